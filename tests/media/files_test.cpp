// Line streams, folders and durable replacement of files.
#include "engine/media/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

TEST_F(FilesTest, MissingFilesAndFolders) {
    EXPECT_EQ(media::ReadFile(dir_ / "nothing"), nullptr);
    EXPECT_EQ(media::ReadFile(dir_.path()), nullptr);  // a folder is not a file
    EXPECT_EQ(media::WriteFile(dir_ / "no/such/folder.txt"), nullptr);
    EXPECT_EQ(media::FileType(dir_ / "nothing"), 0);
    EXPECT_EQ(media::FileType(dir_.path()), 2);
    ASSERT_TRUE(WriteWholeFile(dir_ / "f", "x"));
    EXPECT_EQ(media::FileType(dir_ / "f"), 1);
    EXPECT_TRUE(media::DeleteFile(dir_ / "f"));
    EXPECT_EQ(media::FileType(dir_ / "f"), 0);
    EXPECT_TRUE(media::DeleteFile(dir_ / "f"));  // nothing left: still true
}

TEST_F(FilesTest, ChangeDirAndCurrentDir) {
    ASSERT_EQ(::mkdir((dir_ / "Files").c_str(), 0755), 0);
    EXPECT_TRUE(media::ChangeDir(dir_ / "Files"));
    EXPECT_EQ(media::CurrentDir(), dir_ / "Files");
    EXPECT_TRUE(media::ChangeDir(".."));
    EXPECT_EQ(media::CurrentDir(), dir_.path());
    EXPECT_FALSE(media::ChangeDir("missing/"));
    EXPECT_EQ(media::CurrentDir(), dir_.path());
    EXPECT_FALSE(media::ExecutableDir().empty());
}

TEST_F(FilesTest, DurableWriteReplacesOnlyOnSuccessfulClose) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "keep.dat", "old contents"));
    auto s = media::WriteFileDurable(dir_ / "keep.dat");
    ASSERT_TRUE(s);
    s->WriteLine("new");
    // Until Close the old file is untouched.
    EXPECT_EQ(ReadWholeFile(dir_ / "keep.dat"), "old contents");
    EXPECT_TRUE(media::CloseFile(s));
    EXPECT_EQ(ReadWholeFile(dir_ / "keep.dat"), "new\r\n");
}

TEST_F(FilesTest, DurableWriteThatFailsMidwayLeavesOldFileAndNoTemporary) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "keep.dat", "old contents"));
    auto s = media::WriteFileDurable(dir_ / "keep.dat");
    ASSERT_TRUE(s);
    media::SetWriteFaultAfter(10);
    for (int i = 0; i < 5000; ++i) s->WriteLine("a line that fills the disk");
    EXPECT_FALSE(s->Close());
    media::SetWriteFaultAfter(-1);
    EXPECT_EQ(ReadWholeFile(dir_ / "keep.dat"), "old contents");
    // Only the original file is left in the folder.
    int entries = 0;
    for (auto& e : std::filesystem::directory_iterator(dir_.path())) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(FilesTest, DurableWriteIntoMissingFolderFailsCleanly) {
    EXPECT_EQ(media::WriteFileDurable(dir_ / "missing/x.dat"), nullptr);
}

TEST_F(FilesTest, DurableWriteKeepsLinksAndPermissionsAndAbandonedStreamsCommitNothing) {
    namespace fs = std::filesystem;
    // A link stays a link; the file it points to gets the new contents.
    ASSERT_TRUE(WriteWholeFile(dir_ / "real.dat", "old"));
    fs::create_symlink("real.dat", dir_ / "link.dat");
    auto s = media::WriteFileDurable(dir_ / "link.dat");
    ASSERT_TRUE(s);
    s->WriteLine("via link");
    ASSERT_TRUE(media::CloseFile(s));
    EXPECT_TRUE(fs::is_symlink(dir_ / "link.dat"));
    EXPECT_EQ(ReadWholeFile(dir_ / "real.dat"), "via link\r\n");

    // The replaced file keeps its permission bits; a new one follows the umask.
    ASSERT_EQ(chmod((dir_ / "real.dat").c_str(), 0604), 0);
    s = media::WriteFileDurable(dir_ / "real.dat");
    ASSERT_TRUE(s);
    s->WriteLine("kept");
    ASSERT_TRUE(media::CloseFile(s));
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "real.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    mode_t old = umask(027);
    s = media::WriteFileDurable(dir_ / "fresh.dat");
    umask(old);
    ASSERT_TRUE(s);
    ASSERT_TRUE(media::CloseFile(s));
    ASSERT_EQ(stat((dir_ / "fresh.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A stream destroyed without Close leaves the old file and no temporary.
    s = media::WriteFileDurable(dir_ / "real.dat");
    ASSERT_TRUE(s);
    s->WriteLine("half");
    s.reset();
    EXPECT_EQ(ReadWholeFile(dir_ / "real.dat"), "kept\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 3);
}

TEST_F(FilesTest, StaleTemporaryFilesGoButARunningSavesFileStays) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);  // its number now names no process
    const std::string dead = "nuscores.dat.tmp-" + std::to_string(child) + "-aB3xYz";
    const std::string live = "nuscores.dat.tmp-" + std::to_string(getppid()) + "-aB3xYz";
    for (const std::string& name : {dead, live, std::string("Setup.ini.tmp-Qw12Er"),
                                    std::string("nuscores.dat"), std::string("a.tmp-1-short")}) {
        ASSERT_TRUE(WriteWholeFile(dir_ / name, "x"));
    }
    EXPECT_EQ(media::RemoveStaleTempFiles(dir_.path()), 2);
    EXPECT_EQ(media::FileType(dir_ / dead), 0);
    EXPECT_EQ(media::FileType(dir_ / "Setup.ini.tmp-Qw12Er"), 0);
    EXPECT_EQ(media::FileType(dir_ / live), 1);
    EXPECT_EQ(media::FileType(dir_ / "nuscores.dat"), 1);
    EXPECT_EQ(media::FileType(dir_ / "a.tmp-1-short"), 1);
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
    } cases[] = {
        {dir_ / "ok.dat", 10, media::OpenResult::kOk},
        {dir_ / "ok.dat", 9, media::OpenResult::kUnreadable},
        {dir_ / "missing", 10, media::OpenResult::kAbsent},
        {dir_ / "fifo", 10, media::OpenResult::kUnreadable},
        {dir_ / "zero", 10, media::OpenResult::kUnreadable},
        {dir_ / "folder", 10, media::OpenResult::kUnreadable},
        {dir_ / "ok.dat/below", 10, media::OpenResult::kUnreadable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path + " cap " + std::to_string(c.cap));
        media::OpenResult got;
        auto s = media::OpenDataFile(c.path, c.cap, got);
        EXPECT_EQ(got, c.want);
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
