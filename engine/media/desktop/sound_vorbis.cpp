// Ogg Vorbis decoding with libvorbisfile, for the desktop part: the core's
// sound decoder hands Ogg bytes here once the desktop is installed.
#include "engine/media/desktop/sound_vorbis.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace media::detail {

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

}  // namespace

bool DecodeVorbis(std::string_view b, SoundData& out) {
    MemoryReader reader{b, 0};
    ov_callbacks callbacks{MemRead, MemSeek, nullptr, MemTell};
    OggVorbis_File vf;
    if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) != 0) return false;
    VorbisFileGuard guard(&vf);
    vorbis_info* info = ov_info(&vf, -1);
    if (info == nullptr || info->channels < 1 || info->channels > 2 || info->rate < 1 ||
        info->rate > kMaxSoundRate) {
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

}  // namespace media::detail
