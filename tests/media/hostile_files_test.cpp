// Tests of the loaders against files a hostile user may put in the data
// folders: special files that must not block or stream forever, files far
// larger than any real asset, and crafted headers that ask for huge images.
// Each must give a null handle and exactly one log line, quickly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/media/asset_read.h"
#include "engine/media/graphics.h"
#include "engine/media/image_font.h"
#include "engine/media/pixmap.h"
#include "engine/media/sound_decode.h"
#include "tests/support/temp_dir.h"

using namespace media;

namespace {

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string U32BigEndian(uint32_t v) {
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
            static_cast<char>(v)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
    return U32BigEndian(static_cast<uint32_t>(data.size())) + type + data +
           U32BigEndian(Crc32(type + data));
}

// A well-formed PNG header declaring an 8-bit RGBA image of width × height,
// followed by the zero pixels of a 4 × 4 image and the end chunk: a hundred
// bytes that may claim gigabytes.
std::string PngClaiming(uint32_t width, uint32_t height) {
    std::string ihdr = U32BigEndian(width) + U32BigEndian(height) + std::string("\x08\x06\0\0\0", 5);
    // A zlib stream of one stored block: 4 rows of a filter byte and 16 bytes.
    const std::string raw(4 * 17, '\0');
    const uint32_t adler = (static_cast<uint32_t>(raw.size()) << 16) | 1u;
    std::string idat("\x78\x01\x01", 3);
    idat += {static_cast<char>(raw.size()), 0, static_cast<char>(~raw.size()), '\xFF'};
    idat += raw + U32BigEndian(adler);
    return std::string("\x89PNG\r\n\x1A\n", 8) + PngChunk("IHDR", ihdr) + PngChunk("IDAT", idat) +
           PngChunk("IEND", "");
}

// One loader under test: returns true when it produced a handle.
struct Loader {
    const char* kind;
    std::function<bool(const std::string&)> load;
};

const Loader kLoaders[] = {
    {"image", [](const std::string& p) { return LoadPixmap(p) != nullptr; }},
    {"sound",
     [](const std::string& p) {
         SoundData s;
         return DecodeSoundFile(p, s);
     }},
    {"font", [](const std::string& p) { return LoadImageFont(p, 16) != nullptr; }},
};

class HostileFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLoadFailureSink([this](std::string_view line) { lines_.emplace_back(line); });
    }
    void TearDown() override { SetLoadFailureSink(nullptr); }

    zqtest::TempDir dir_;
    std::vector<std::string> lines_;
};

}  // namespace

TEST_F(HostileFilesTest, EveryLoaderRefusesSpecialAndOversizedFiles) {
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Sparse: 300 MB on paper, nothing on the disk.
    const std::string huge = dir_ / "huge";
    {
        int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{300} * 1024 * 1024), 0);
        ::close(fd);
    }
    struct Case {
        std::string path;
        const char* reason;
    };
    const Case cases[] = {
        {fifo, "not a regular file"},       // a FIFO without a writer: must not block
        {"/dev/zero", "not a regular file"},  // endless: must not be read at all
        {dir_.path(), "not a regular file"},
        {huge, "larger than"},
    };
    for (const Loader& loader : kLoaders) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(loader.kind) + " " + c.path);
            lines_.clear();
            EXPECT_FALSE(loader.load(c.path));
            ASSERT_EQ(lines_.size(), 1u);
            EXPECT_NE(lines_[0].find(loader.kind), std::string::npos) << lines_[0];
            EXPECT_NE(lines_[0].find(c.path), std::string::npos) << lines_[0];
            EXPECT_NE(lines_[0].find(c.reason), std::string::npos) << lines_[0];
        }
        // A missing file is the quiet kind of failure: the game names some
        // optional assets (numbered sounds) that need not be there.
        lines_.clear();
        EXPECT_FALSE(loader.load(dir_ / "missing"));
        EXPECT_TRUE(lines_.empty());
    }
}

TEST_F(HostileFilesTest, CraftedContentsGiveNullAndOneLogLine) {
    struct Case {
        const char* name;
        std::string bytes;
        int loader;  // index into kLoaders
        const char* reason;
    };
    const std::string png = PngClaiming(4, 4);
    const Case cases[] = {
        // 32768 × 16384 × 4 bytes passes the int range: once a start-up abort.
        {"wide.png", PngClaiming(32768, 16384), 0, "too large"},
        {"square.png", PngClaiming(16384, 16384), 0, "too large"},  // 1 GiB
        {"side.png", PngClaiming(16385, 1), 0, "too large"},
        {"cut.png", png.substr(0, png.size() - 20), 0, ""},
        {"font.ttf", std::string("\0\1\0\0\0\x0B\0\x80", 8) + std::string(200, '\xFF'), 2,
         "not a usable font"},
        {"noise.wav", std::string("RIFF\x10\0\0\0WAVEfmt \xFF\xFF\xFF\xFF", 20), 1, "damaged"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / c.name, c.bytes));
        lines_.clear();
        EXPECT_FALSE(kLoaders[c.loader].load(dir_ / c.name));
        ASSERT_EQ(lines_.size(), 1u);
        EXPECT_NE(lines_[0].find(c.reason), std::string::npos) << lines_[0];
    }
    // The same small image, whole, loads: the header above is well formed.
    ASSERT_TRUE(zqtest::WriteWholeFile(dir_ / "small.png", png));
    auto pm = LoadPixmap(dir_ / "small.png");
    ASSERT_NE(pm, nullptr);
    EXPECT_EQ(pm->width, 4);
}

TEST(ImageCaps, SizesBeyondTheCapsAreRefusedWithoutOverflow) {
    EXPECT_EQ(CreatePixmap(16385, 1), nullptr);
    EXPECT_EQ(CreatePixmap(16384, 16384), nullptr);  // 1 GiB of RGBA
    EXPECT_NE(CreatePixmap(16384, 1), nullptr);
    // Four frames of the largest side would need gigabytes of texture.
    EXPECT_EQ(CreateImage(16384, 16384, 4), nullptr);
    EXPECT_EQ(CreateImage(4, 4, INT_MAX), nullptr);
    // A window far off the pixmap copies nothing instead of wrapping around.
    auto src = CreatePixmap(4, 4);
    src->WritePixel(0, 0, 0xFFFFFFFFu);
    auto far = PixmapWindow(*src, INT_MAX - 1, INT_MAX - 1, 4, 4);
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(far->ReadPixel(0, 0), 0u);
}

TEST_F(HostileFilesTest, CellCountsThatOverflowAreRefused) {
    auto sheet = CreatePixmap(32, 32);
    ASSERT_EQ(SavePixmapPNG(*sheet, dir_ / "sheet.png", 1), 1);
    EXPECT_NE(LoadAnimImage(dir_ / "sheet.png", 16, 16, 0, 4), nullptr);
    EXPECT_EQ(LoadAnimImage(dir_ / "sheet.png", 16, 16, INT_MAX, 1), nullptr);
    EXPECT_EQ(LoadAnimImage(dir_ / "sheet.png", 16, 16, 1, INT_MAX), nullptr);
}
