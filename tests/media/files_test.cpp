// Line and binary streams, the capped reader and plain files for writing.
#include "engine/media/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace {

using zqtest::ReadWholeFile;
using zqtest::WriteWholeFile;

class FilesTest : public ::testing::Test {
  protected:
    void TearDown() override { media::SetWriteFaultAfter(-1); }
    zqtest::TempDir dir_;
    zqtest::CwdGuard cwd_;
};

TEST_F(FilesTest, ReadLineEndsAtLfNulOrEndAndDropsCr) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "in.txt", std::string("one\r\ntw\ro\n\nthree\0four", 21)));
    auto s = media::ReadFile(dir_ / "in.txt");
    ASSERT_TRUE(s);
    EXPECT_FALSE(s->Eof());
    EXPECT_EQ(s->ReadLine(), "one");
    EXPECT_EQ(s->ReadLine(), "two");
    EXPECT_EQ(s->ReadLine(), "");
    EXPECT_EQ(s->ReadLine(), "three");
    EXPECT_EQ(s->ReadLine(), "four");
    EXPECT_TRUE(s->Eof());
    EXPECT_EQ(s->ReadLine(), "");
}

TEST_F(FilesTest, ReadLineKeepsHighBytes) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "hi.txt", "\xA7\xFF\x80"));
    auto s = media::ReadFile(dir_ / "hi.txt");
    ASSERT_TRUE(s);
    EXPECT_EQ(s->ReadLine(), "\xA7\xFF\x80");
}

TEST_F(FilesTest, EmptyFileIsAtEndAtOnce) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "empty", ""));
    auto s = media::ReadFile(dir_ / "empty");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->Eof());
    EXPECT_EQ(s->ReadLine(), "");
}

TEST_F(FilesTest, WriteLineUsesCrLfAndOneBytePerCharacter) {
    auto s = media::WriteFile(dir_ / "out.txt");
    ASSERT_TRUE(s);
    EXPECT_TRUE(s->WriteLine("\tSetup Loaded"));
    EXPECT_TRUE(s->WriteLine("\xA7"));
    // Plain streams pass each line on at once: it is readable before Close.
    EXPECT_EQ(ReadWholeFile(dir_ / "out.txt"), "\tSetup Loaded\r\n\xA7\r\n");
    EXPECT_TRUE(s->Close());
}

TEST_F(FilesTest, WriteFileTakesOnlyRegularFilesAndNeverBlocks) {
    // A blocking open of a FIFO without a reader never returns: the alarm
    // turns such a hang into a failure.
    ::alarm(30);
    const std::string fifo = dir_ / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(media::WriteFile(fifo), nullptr);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(media::WriteFile(fifo), nullptr);  // with a reader it is still no file
    ::close(reader);
    std::filesystem::create_symlink("/dev/null", dir_ / "null");
    EXPECT_EQ(media::WriteFile(dir_ / "null"), nullptr);
    EXPECT_EQ(media::WriteFile(dir_.path()), nullptr);
    EXPECT_EQ(media::WriteFile(dir_ / "no/such/folder.txt"), nullptr);
    ::alarm(0);
    ASSERT_TRUE(WriteWholeFile(dir_ / "old.txt", "old contents"));
    auto s = media::WriteFile(dir_ / "old.txt");
    ASSERT_TRUE(s);
    EXPECT_EQ(ReadWholeFile(dir_ / "old.txt"), "");  // a regular file is truncated
}

TEST_F(FilesTest, DataFilesNeverBlockAndTellAbsentFromUnreadable) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "ok.dat", "0123456789"));
    ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir_ / "zero");
    std::filesystem::create_directory(dir_ / "folder");
    struct Case {
        std::string path;
        int64_t cap;
        media::OpenResult want;
        std::string why;
    } cases[] = {
        {dir_ / "ok.dat", 10, media::OpenResult::kOk, ""},
        {dir_ / "ok.dat", 9, media::OpenResult::kUnreadable, "larger than 9 bytes"},
        {dir_ / "missing", 10, media::OpenResult::kAbsent, "missing"},
        {dir_ / "fifo", 10, media::OpenResult::kUnreadable, "not a regular file"},
        {dir_ / "zero", 10, media::OpenResult::kUnreadable, "not a regular file"},
        {dir_ / "folder", 10, media::OpenResult::kUnreadable, "not a regular file"},
        {dir_ / "ok.dat/below", 10, media::OpenResult::kUnreadable, "Not a directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " cap " + std::to_string(c.cap));
        media::OpenResult got;
        std::string why;
        auto s = media::OpenDataFile(c.path, c.cap, got, &why);
        EXPECT_EQ(got, c.want);
        EXPECT_EQ(why, c.why);
        EXPECT_EQ(s != nullptr, c.want == media::OpenResult::kOk);
    }
}

TEST_F(FilesTest, BinaryValuesAreLittleEndianAndRunningOutReadsZero) {
    auto out = media::WriteFile(dir_ / "bin.dat");
    ASSERT_TRUE(out);
    EXPECT_TRUE(out->WriteByte(0x1FF));  // only the low byte
    EXPECT_TRUE(out->WriteShort(0x12345));
    EXPECT_TRUE(out->WriteInt(-2));
    EXPECT_TRUE(out->WriteFloat(-1.5f));
    EXPECT_TRUE(out->WriteByte(7));
    EXPECT_TRUE(out->Close());
    EXPECT_EQ(ReadWholeFile(dir_ / "bin.dat"),
              std::string("\xFF\x45\x23\xFE\xFF\xFF\xFF\x00\x00\xC0\xBF\x07", 12));

    auto in = media::ReadFile(dir_ / "bin.dat");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->ReadByte(), 255);
    EXPECT_EQ(in->ReadShort(), 0x2345);  // unsigned: 0..65535
    EXPECT_EQ(in->ReadInt(), -2);
    EXPECT_EQ(in->ReadFloat(), -1.5f);
    EXPECT_EQ(in->ReadShort(), 0);  // one byte left: not enough
    EXPECT_TRUE(in->Eof());
    EXPECT_EQ(in->ReadByte(), 0);
}

}  // namespace
