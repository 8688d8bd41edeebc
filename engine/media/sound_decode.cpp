// Sound file decoding: PCM WAV here, Ogg Vorbis through the desktop part
// (sound_vorbis.cpp), into 16-bit interleaved samples.
#include "engine/media/sound_decode.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "engine/media/asset_read.h"
#include "engine/media/platform_seam.h"

namespace media {

// Constants ------------------------------------------------------------------

constexpr int kWaveFormatPcm = 1;
constexpr int kWaveFormatExtensible = 0xFFFE;
// Files above this size are refused before they are read: room for the
// longest sound accepted as 16-bit WAV, and its headers.
constexpr size_t kMaxFileBytes = kMaxSoundSamples * 2 + 1024 * 1024;

namespace {

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
    if (rate < 1 || rate > kMaxSoundRate) return false;
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

}  // namespace

// Public functions -------------------------------------------------------------

bool DecodeSoundBytes(std::string_view bytes, SoundData& out) {
    out = SoundData{};
    SoundData decoded;
    bool ok = false;
    if (bytes.size() >= 4 && bytes.substr(0, 4) == "RIFF") {
        ok = DecodeWav(bytes, decoded);
    } else if (bytes.size() >= 4 && bytes.substr(0, 4) == "OggS") {
        ok = detail::Platform().decodeVorbis && detail::Platform().decodeVorbis(bytes, decoded);
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
