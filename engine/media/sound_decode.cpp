// Sound file decoding: PCM WAV and Ogg Vorbis into 16-bit interleaved samples.
#include "engine/media/sound_decode.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "engine/media/asset_read.h"

namespace media {

// Constants ------------------------------------------------------------------

constexpr int kWaveFormatPcm = 1;
constexpr int kWaveFormatExtensible = 0xFFFE;
constexpr int kMaxRate = 384000;
// Files above this size are refused before they are read: room for the
// longest sound accepted as 16-bit WAV, and its headers.
constexpr size_t kMaxFileBytes = kMaxSoundSamples * 2 + 1024 * 1024;

// Types ------------------------------------------------------------------------

namespace {

// The read position of an Ogg stream held in memory.
struct MemoryReader {
    std::string_view bytes;
    size_t pos = 0;
};

// Closes a vorbisfile handle that was opened successfully.
class VorbisFileGuard {
  public:
    explicit VorbisFileGuard(OggVorbis_File* vf) : vf_(vf) {}
    ~VorbisFileGuard() { ov_clear(vf_); }
    VorbisFileGuard(const VorbisFileGuard&) = delete;
    VorbisFileGuard& operator=(const VorbisFileGuard&) = delete;

  private:
    OggVorbis_File* vf_;
};

// Internal helpers -----------------------------------------------------------

uint32_t ReadU32(std::string_view b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

uint16_t ReadU16(std::string_view b, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 static_cast<unsigned char>(b[at + 1]) << 8);
}

bool DecodeWav(std::string_view b, SoundData& out) {
    if (b.size() < 12 || b.substr(0, 4) != "RIFF" || b.substr(8, 4) != "WAVE") return false;
    int format = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    bool have_fmt = false, have_data = false;
    std::string_view data;
    size_t at = 12;
    // Walk the chunks; sizes come from the file, so every one is checked
    // against what is really there before it is used.
    while (b.size() - at >= 8) {
        std::string_view id = b.substr(at, 4);
        size_t size = ReadU32(b, at + 4);
        at += 8;
        size_t avail = std::min(size, b.size() - at);
        if (id == "fmt " && !have_fmt) {
            if (avail < 16) return false;
            format = ReadU16(b, at);
            channels = ReadU16(b, at + 2);
            rate = ReadU32(b, at + 4);
            bits = ReadU16(b, at + 14);
            if (format == kWaveFormatExtensible) {
                // The sub-format GUID starts with the plain format tag.
                if (avail < 26) return false;
                format = ReadU16(b, at + 24);
            }
            have_fmt = true;
        } else if (id == "data" && !have_data) {
            data = b.substr(at, avail);  // a cut-off file keeps what arrived
            have_data = true;
        }
        if (avail < size) break;
        at += size;
        if (size % 2 != 0) {
            if (at >= b.size()) break;
            ++at;  // chunks are padded to an even length
        }
    }
    if (!have_fmt || !have_data || format != kWaveFormatPcm) return false;
    if (channels < 1 || channels > 2 || (bits != 8 && bits != 16)) return false;
    if (rate < 1 || rate > kMaxRate) return false;
    size_t frame_bytes = static_cast<size_t>(channels) * (bits / 8);
    size_t frames = data.size() / frame_bytes;
    size_t count = frames * channels;
    if (count > kMaxSoundSamples) return false;
    out.channels = channels;
    out.rate = static_cast<int>(rate);
    out.samples.resize(count);
    for (size_t i = 0; i < count; ++i) {
        if (bits == 8) {
            // 8-bit WAV samples are unsigned with 128 as silence.
            out.samples[i] =
                static_cast<int16_t>((static_cast<unsigned char>(data[i]) - 128) * 256);
        } else {
            out.samples[i] = static_cast<int16_t>(ReadU16(data, i * 2));
        }
    }
    return true;
}

size_t MemRead(void* ptr, size_t size, size_t nmemb, void* source) {
    auto* r = static_cast<MemoryReader*>(source);
    if (size == 0) return 0;
    size_t n = std::min(nmemb, (r->bytes.size() - r->pos) / size);
    std::memcpy(ptr, r->bytes.data() + r->pos, n * size);
    r->pos += n * size;
    return n;
}

int MemSeek(void* source, ogg_int64_t offset, int whence) {
    auto* r = static_cast<MemoryReader*>(source);
    ogg_int64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? static_cast<ogg_int64_t>(r->pos)
                                            : static_cast<ogg_int64_t>(r->bytes.size());
    ogg_int64_t to = base + offset;
    if (to < 0 || to > static_cast<ogg_int64_t>(r->bytes.size())) return -1;
    r->pos = static_cast<size_t>(to);
    return 0;
}

long MemTell(void* source) {
    return static_cast<long>(static_cast<MemoryReader*>(source)->pos);
}

bool DecodeOgg(std::string_view b, SoundData& out) {
    MemoryReader reader{b, 0};
    ov_callbacks callbacks{MemRead, MemSeek, nullptr, MemTell};
    OggVorbis_File vf;
    if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) != 0) return false;
    VorbisFileGuard guard(&vf);
    vorbis_info* info = ov_info(&vf, -1);
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate < 1 ||
        info->rate > kMaxRate) {
        return false;
    }
    const int channels = info->channels;
    const long rate = info->rate;
    const int big_endian = std::endian::native == std::endian::big ? 1 : 0;
    std::vector<int16_t> samples;
    char buffer[8192];
    int first_link = -1;
    for (;;) {
        int link = 0;
        long got = ov_read(&vf, buffer, sizeof buffer, big_endian, 2, 1, &link);
        if (got == OV_HOLE) continue;  // a gap in the stream: skip it
        if (got < 0) return false;
        if (got == 0) break;
        if (first_link < 0) first_link = link;
        if (link != first_link) {
            // A chained stream may change its layout; keep the first part only.
            vorbis_info* next = ov_info(&vf, link);
            if (next == nullptr || next->channels != channels || next->rate != rate) break;
        }
        size_t n = static_cast<size_t>(got) / 2;
        if (samples.size() + n > kMaxSoundSamples) return false;
        size_t old = samples.size();
        samples.resize(old + n);
        std::memcpy(samples.data() + old, buffer, n * 2);
    }
    samples.resize(samples.size() - samples.size() % channels);
    out.channels = channels;
    out.rate = static_cast<int>(rate);
    out.samples = std::move(samples);
    return true;
}

}  // namespace

// Public functions -------------------------------------------------------------

bool DecodeSoundBytes(std::string_view bytes, SoundData& out) {
    out = SoundData{};
    SoundData decoded;
    bool ok = false;
    if (bytes.size() >= 4 && bytes.substr(0, 4) == "RIFF") {
        ok = DecodeWav(bytes, decoded);
    } else if (bytes.size() >= 4 && bytes.substr(0, 4) == "OggS") {
        ok = DecodeOgg(bytes, decoded);
    }
    if (ok) out = std::move(decoded);
    return ok;
}

bool DecodeSoundFile(const std::string& path, SoundData& out) {
    out = SoundData{};
    std::string bytes, why;
    AssetRead read = ReadAssetFile(path, kMaxFileBytes, bytes, why);
    if (read == AssetRead::kMissing) return false;
    if (read != AssetRead::kOk) {
        ReportLoadFailure("sound", path, why);
        return false;
    }
    if (!DecodeSoundBytes(bytes, out)) {
        ReportLoadFailure("sound", path, "not a playable WAV or Ogg Vorbis sound, or damaged");
        return false;
    }
    return true;
}

}  // namespace media
