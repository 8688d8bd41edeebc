// Tests of sound decoding: PCM WAV in its 8/16-bit mono/stereo forms and the
// damaged or unsupported files a loader meets, and Ogg Vorbis streams that
// the test encodes itself with libvorbisenc (loaded at run time, so the test
// needs no extra link line).
#include "engine/media/sound_decode.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <numbers>

#include "tests/support/temp_dir.h"

namespace {

using media::DecodeSoundBytes;
using media::DecodeSoundFile;
using media::SoundData;

void PutU16(std::string& b, unsigned v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
}

void PutU32(std::string& b, uint32_t v) {
    PutU16(b, v & 0xFFFF);
    PutU16(b, v >> 16);
}

std::string Chunk(const std::string& id, const std::string& body) {
    std::string c = id;
    PutU32(c, static_cast<uint32_t>(body.size()));
    c += body;
    if (body.size() % 2 != 0) c += '\0';
    return c;
}

std::string FmtBody(int format, int channels, uint32_t rate, int bits) {
    std::string f;
    PutU16(f, format);
    PutU16(f, channels);
    PutU32(f, rate);
    PutU32(f, rate * channels * bits / 8);
    PutU16(f, channels * bits / 8);
    PutU16(f, bits);
    return f;
}

std::string Riff(const std::string& chunks) {
    std::string b = "RIFF";
    PutU32(b, static_cast<uint32_t>(4 + chunks.size()));
    return b + "WAVE" + chunks;
}

std::string Pcm16(std::initializer_list<int> samples) {
    std::string d;
    for (int s : samples) PutU16(d, static_cast<unsigned>(s) & 0xFFFF);
    return d;
}

std::string Wav16(int channels, uint32_t rate, std::initializer_list<int> samples) {
    return Riff(Chunk("fmt ", FmtBody(1, channels, rate, 16)) + Chunk("data", Pcm16(samples)));
}

TEST(SoundDecodeWav, SixteenBitMono) {
    SoundData s;
    ASSERT_TRUE(DecodeSoundBytes(Wav16(1, 22050, {0, 1000, -1000, 32767, -32768}), s));
    EXPECT_EQ(s.channels, 1);
    EXPECT_EQ(s.rate, 22050);
    EXPECT_EQ(s.samples, (std::vector<int16_t>{0, 1000, -1000, 32767, -32768}));
    EXPECT_EQ(s.Frames(), 5u);
}

TEST(SoundDecodeWav, SixteenBitStereoStaysInterleaved) {
    SoundData s;
    ASSERT_TRUE(DecodeSoundBytes(Wav16(2, 44100, {1, -1, 2, -2}), s));
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.samples, (std::vector<int16_t>{1, -1, 2, -2}));
    EXPECT_EQ(s.Frames(), 2u);
}

TEST(SoundDecodeWav, EightBitIsUnsignedAroundHalfway) {
    std::string data{'\x80', '\x00', '\xFF', '\xC0'};
    SoundData s;
    ASSERT_TRUE(
        DecodeSoundBytes(Riff(Chunk("fmt ", FmtBody(1, 2, 8000, 8)) + Chunk("data", data)), s));
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.samples, (std::vector<int16_t>{0, -32768, 32512, 16384}));
}

TEST(SoundDecodeWav, ExtensibleFormatWithPcmSubFormat) {
    std::string fmt = FmtBody(0xFFFE, 1, 44100, 16);
    PutU16(fmt, 22);  // extension size
    PutU16(fmt, 16);  // valid bits
    PutU32(fmt, 4);   // channel mask
    PutU16(fmt, 1);   // sub-format: PCM
    fmt += std::string(14, '\x01');
    SoundData s;
    ASSERT_TRUE(DecodeSoundBytes(Riff(Chunk("fmt ", fmt) + Chunk("data", Pcm16({7, 8}))), s));
    EXPECT_EQ(s.samples, (std::vector<int16_t>{7, 8}));
}

TEST(SoundDecodeWav, SkipsOddSizedChunksWithTheirPadding) {
    std::string bytes = Riff(Chunk("LIST", "abc") + Chunk("fmt ", FmtBody(1, 1, 8000, 16)) +
                             Chunk("junk", "x") + Chunk("data", Pcm16({5, 6, 7})));
    SoundData s;
    ASSERT_TRUE(DecodeSoundBytes(bytes, s));
    EXPECT_EQ(s.samples, (std::vector<int16_t>{5, 6, 7}));
}

TEST(SoundDecodeWav, CutOffDataKeepsWholeFramesOnly) {
    // The data chunk claims 1000 bytes; 5 arrived: two whole stereo frames
    // would need 8, so one frame (4 bytes) is kept.
    std::string bytes = Riff(Chunk("fmt ", FmtBody(1, 2, 8000, 16)));
    bytes += "data";
    PutU32(bytes, 1000);
    bytes += Pcm16({10, 20}) + "\x01";
    SoundData s;
    ASSERT_TRUE(DecodeSoundBytes(bytes, s));
    EXPECT_EQ(s.samples, (std::vector<int16_t>{10, 20}));
}

TEST(SoundDecodeWav, RefusesUnsupportedOrBrokenFiles) {
    const std::string data = Chunk("data", Pcm16({1, 2, 3, 4, 5, 6}));
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"24-bit", Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 24)) + data)},
        {"three channels", Riff(Chunk("fmt ", FmtBody(1, 3, 8000, 16)) + data)},
        {"no channels", Riff(Chunk("fmt ", FmtBody(1, 0, 8000, 16)) + data)},
        {"float samples", Riff(Chunk("fmt ", FmtBody(3, 1, 8000, 32)) + data)},
        {"zero rate", Riff(Chunk("fmt ", FmtBody(1, 1, 0, 16)) + data)},
        {"no fmt chunk", Riff(data)},
        {"no data chunk", Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16)))},
        {"short fmt chunk", Riff(Chunk("fmt ", "\x01\x00\x01\x00") + data)},
        {"not WAVE",
         "RIFF\x10\x00\x00\x00"
         "AVI LIST"},
        {"header only", "RIFF"},
        {"empty", ""},
        {"text", "hello, this is not a sound at all"},
    };
    for (const Case& c : cases) {
        SoundData s;
        s.channels = 9;  // must be cleared on failure
        EXPECT_FALSE(DecodeSoundBytes(c.bytes, s)) << c.what;
        EXPECT_EQ(s.channels, 0) << c.what;
        EXPECT_TRUE(s.samples.empty()) << c.what;
    }
}

TEST(SoundDecodeWav, EmptyDataChunkIsAValidSilentSound) {
    SoundData s;
    ASSERT_TRUE(
        DecodeSoundBytes(Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 16)) + Chunk("data", "")), s));
    EXPECT_EQ(s.Frames(), 0u);
}

TEST(SoundDecodeFile, ReadsFilesAndRefusesMissingOnes) {
    zqtest::TempDir dir;
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "a.wav", Wav16(1, 11025, {3, 4})));
    SoundData s;
    ASSERT_TRUE(DecodeSoundFile(dir / "a.wav", s));
    EXPECT_EQ(s.rate, 11025);
    EXPECT_EQ(s.samples, (std::vector<int16_t>{3, 4}));
    EXPECT_FALSE(DecodeSoundFile(dir / "missing.wav", s));
    EXPECT_FALSE(DecodeSoundFile(dir.path(), s));  // a folder
    // The contents decide, not the name.
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "b.ogg", Wav16(1, 8000, {9})));
    EXPECT_TRUE(DecodeSoundFile(dir / "b.ogg", s));
}

// Ogg Vorbis ---------------------------------------------------------------------

// Encodes channel buffers of floats (-1..1) as an Ogg Vorbis stream.
// Returns "" when libvorbisenc cannot be loaded.
std::string EncodeVorbis(const std::vector<std::vector<float>>& channels, long rate) {
    using InitVbr = decltype(&vorbis_encode_init_vbr);
    static void* lib = dlopen("libvorbisenc.so.2", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return "";
    auto init_vbr = reinterpret_cast<InitVbr>(dlsym(lib, "vorbis_encode_init_vbr"));
    if (init_vbr == nullptr) return "";

    const int n_channels = static_cast<int>(channels.size());
    const long frames = static_cast<long>(channels[0].size());
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (init_vbr(&vi, n_channels, rate, 0.4f) != 0) return "";
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block vb;
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, 7);

    std::string out;
    ogg_page page;
    auto take_pages = [&](bool flush) {
        while (flush ? ogg_stream_flush(&os, &page) : ogg_stream_pageout(&os, &page)) {
            out.append(reinterpret_cast<const char*>(page.header), page.header_len);
            out.append(reinterpret_cast<const char*>(page.body), page.body_len);
        }
    };
    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    take_pages(true);

    auto drain = [&] {
        ogg_packet packet;
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            while (vorbis_bitrate_flushpacket(&vd, &packet)) {
                ogg_stream_packetin(&os, &packet);
                take_pages(false);
            }
        }
    };
    const long chunk = 1024;
    for (long at = 0; at < frames; at += chunk) {
        long n = std::min(chunk, frames - at);
        float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
        for (int c = 0; c < n_channels; ++c) {
            for (long i = 0; i < n; ++i) buffer[c][i] = channels[c][at + i];
        }
        vorbis_analysis_wrote(&vd, static_cast<int>(n));
        drain();
    }
    vorbis_analysis_wrote(&vd, 0);
    drain();
    take_pages(true);

    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

std::vector<float> Sine(long frames, double hz, long rate, double amplitude) {
    std::vector<float> v(frames);
    for (long i = 0; i < frames; ++i) {
        v[i] = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate));
    }
    return v;
}

// Root mean square of one channel of interleaved samples.
double Rms(const SoundData& s, int channel) {
    double sum = 0;
    size_t frames = s.Frames();
    for (size_t i = 0; i < frames; ++i) {
        double v = s.samples[i * s.channels + channel];
        sum += v * v;
    }
    return frames > 0 ? std::sqrt(sum / frames) : 0.0;
}

TEST(SoundDecodeOgg, MonoKeepsLengthRateAndLoudness) {
    std::string ogg = EncodeVorbis({Sine(22050, 440, 22050, 0.5)}, 22050);
    ASSERT_FALSE(ogg.empty()) << "libvorbisenc not available";
    SoundData s;
    ASSERT_TRUE(DecodeSoundBytes(ogg, s));
    EXPECT_EQ(s.channels, 1);
    EXPECT_EQ(s.rate, 22050);
    EXPECT_EQ(s.Frames(), 22050u);
    EXPECT_NEAR(Rms(s, 0), 0.5 / std::sqrt(2.0) * 32767, 1200);
}

TEST(SoundDecodeOgg, StereoKeepsItsSidesApart) {
    std::string ogg =
        EncodeVorbis({Sine(44100, 330, 44100, 0.8), std::vector<float>(44100, 0.0f)}, 44100);
    ASSERT_FALSE(ogg.empty()) << "libvorbisenc not available";
    zqtest::TempDir dir;
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "two.ogg", ogg));
    SoundData s;
    ASSERT_TRUE(DecodeSoundFile(dir / "two.ogg", s));
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.Frames(), 44100u);
    EXPECT_GT(Rms(s, 0), 15000);
    EXPECT_LT(Rms(s, 1), 1500);
}

TEST(SoundDecodeOgg, RefusesDamagedStreams) {
    std::string ogg = EncodeVorbis({Sine(8000, 440, 8000, 0.5)}, 8000);
    ASSERT_FALSE(ogg.empty()) << "libvorbisenc not available";
    SoundData s;
    EXPECT_FALSE(DecodeSoundBytes(ogg.substr(0, 40), s));  // cut inside the headers
    std::string broken = ogg;
    for (size_t i = 60; i < 200 && i < broken.size(); ++i) broken[i] = '\x55';
    EXPECT_FALSE(DecodeSoundBytes(broken, s));  // corrupted set-up headers
    EXPECT_FALSE(DecodeSoundBytes("OggS", s));
}

}  // namespace
