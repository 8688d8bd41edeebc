// Audio file writers of the asset generator: 16-bit PCM WAV and Ogg Vorbis.
// The Ogg stream serial is fixed so output is repeatable.
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "tools/assetgen/assetgen.h"

namespace assetgen {

static constexpr int kOggSerial = 274;
static constexpr int kBlock = 1024;

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

// Owns the libvorbis encoder state and releases it in the right order.
struct VorbisEncoder {
    vorbis_info vi;
    vorbis_comment vc;
    vorbis_dsp_state vd;
    vorbis_block vb;
    ogg_stream_state os;
    bool dsp = false;
    VorbisEncoder() {
        vorbis_info_init(&vi);
        vorbis_comment_init(&vc);
    }
    ~VorbisEncoder() {
        if (dsp) {
            ogg_stream_clear(&os);
            vorbis_block_clear(&vb);
            vorbis_dsp_clear(&vd);
        }
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    }
};

static void Put16(FILE* f, int v) {
    std::fputc(v & 0xff, f);
    std::fputc((v >> 8) & 0xff, f);
}

static void Put32(FILE* f, uint32_t v) {
    Put16(f, static_cast<int>(v & 0xffff));
    Put16(f, static_cast<int>(v >> 16));
}

static bool WritePage(FILE* f, const ogg_page& pg) {
    return std::fwrite(pg.header, 1, static_cast<size_t>(pg.header_len), f) ==
               static_cast<size_t>(pg.header_len) &&
           std::fwrite(pg.body, 1, static_cast<size_t>(pg.body_len), f) ==
               static_cast<size_t>(pg.body_len);
}

bool WriteWav(const std::string& path, const std::vector<float>& samples, int channels, int rate) {
    File f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) return false;
    uint32_t data = static_cast<uint32_t>(samples.size() * 2);
    std::fputs("RIFF", f.get());
    Put32(f.get(), 36 + data);
    std::fputs("WAVEfmt ", f.get());
    Put32(f.get(), 16);
    Put16(f.get(), 1);
    Put16(f.get(), channels);
    Put32(f.get(), static_cast<uint32_t>(rate));
    Put32(f.get(), static_cast<uint32_t>(rate * channels * 2));
    Put16(f.get(), channels * 2);
    Put16(f.get(), 16);
    std::fputs("data", f.get());
    Put32(f.get(), data);
    for (float v : samples) {
        long s = std::lround(Clamp01(v * 0.5f + 0.5f) * 65535.0f) - 32768;
        Put16(f.get(), static_cast<int>(s));
    }
    return std::ferror(f.get()) == 0 && std::fflush(f.get()) == 0;
}

bool WriteOgg(const std::string& path, const std::vector<float>& samples, int channels, int rate,
              float quality) {
    File f(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!f) return false;
    VorbisEncoder e;
    if (vorbis_encode_init_vbr(&e.vi, channels, rate, quality) != 0) return false;
    vorbis_comment_add_tag(&e.vc, "TITLE", path.substr(path.find_last_of('/') + 1).c_str());
    vorbis_analysis_init(&e.vd, &e.vi);
    vorbis_block_init(&e.vd, &e.vb);
    ogg_stream_init(&e.os, kOggSerial);
    e.dsp = true;

    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&e.vd, &e.vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&e.os, &header);
    ogg_stream_packetin(&e.os, &comments);
    ogg_stream_packetin(&e.os, &codebooks);
    ogg_page page;
    bool ok = true;
    while (ogg_stream_flush(&e.os, &page) != 0) ok = ok && WritePage(f.get(), page);

    size_t frames = samples.size() / static_cast<size_t>(channels);
    size_t pos = 0;
    bool eos = false, ended = false;
    while (!eos && !ended && ok) {
        size_t n = std::min(static_cast<size_t>(kBlock), frames - pos);
        if (n == 0) {
            vorbis_analysis_wrote(&e.vd, 0);  // the last round: drain everything below
            ended = true;
        } else {
            float** buf = vorbis_analysis_buffer(&e.vd, static_cast<int>(n));
            for (size_t i = 0; i < n; ++i)
                for (int c = 0; c < channels; ++c) buf[c][i] = samples[(pos + i) * channels + c];
            vorbis_analysis_wrote(&e.vd, static_cast<int>(n));
            pos += n;
        }
        while (vorbis_analysis_blockout(&e.vd, &e.vb) == 1) {
            vorbis_analysis(&e.vb, nullptr);
            vorbis_bitrate_addblock(&e.vb);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&e.vd, &packet) == 1) {
                ogg_stream_packetin(&e.os, &packet);
                while (ogg_stream_pageout(&e.os, &page) != 0) {
                    ok = ok && WritePage(f.get(), page);
                    if (ogg_page_eos(&page)) eos = true;
                }
            }
        }
    }
    return ok && eos && std::fflush(f.get()) == 0;
}

}  // namespace assetgen
