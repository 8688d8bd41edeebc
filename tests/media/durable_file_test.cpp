// Durable replacement of files, the clean-up of its temporary files, and the
// lock that keeps two saves of one file apart.
#include "engine/media/durable_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "engine/media/file_lock.h"
#include "engine/media/folders.h"
#include "engine/media/temp_files.h"
#include "tests/support/temp_dir.h"

namespace {

using zqtest::ReadWholeFile;
using zqtest::WriteWholeFile;

class DurableFileTest : public ::testing::Test {
  protected:
    void TearDown() override { media::SetWriteFaultAfter(-1); }
    zqtest::TempDir dir_;
};

TEST_F(DurableFileTest, DurableWriteReplacesOnlyOnSuccessfulClose) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "keep.dat", "old contents"));
    auto s = media::WriteFileDurable(dir_ / "keep.dat");
    ASSERT_TRUE(s);
    s->WriteLine("new");
    // Until Close the old file is untouched.
    EXPECT_EQ(ReadWholeFile(dir_ / "keep.dat"), "old contents");
    EXPECT_TRUE(media::CloseFile(s));
    EXPECT_EQ(ReadWholeFile(dir_ / "keep.dat"), "new\r\n");
}

TEST_F(DurableFileTest, DurableWriteThatFailsMidwayLeavesOldFileAndNoTemporary) {
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

TEST_F(DurableFileTest, DurableWriteIntoMissingFolderFailsCleanly) {
    EXPECT_EQ(media::WriteFileDurable(dir_ / "missing/x.dat"), nullptr);
}

TEST_F(DurableFileTest, DurableWriteKeepsLinksAndPermissionsAndAbandonedStreamsCommitNothing) {
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
    // A umask taking the owner's own bits away still leaves a file the program can read back.
    old = umask(0277);
    s = media::WriteFileDurable(dir_ / "own.dat");
    umask(old);
    ASSERT_TRUE(s);
    ASSERT_TRUE(media::CloseFile(s));
    ASSERT_EQ(stat((dir_ / "own.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    fs::remove(dir_ / "own.dat");

    // A stream destroyed without Close leaves the old file and no temporary.
    s = media::WriteFileDurable(dir_ / "real.dat");
    ASSERT_TRUE(s);
    s->WriteLine("half");
    s.reset();
    EXPECT_EQ(ReadWholeFile(dir_ / "real.dat"), "kept\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 3);
}

TEST_F(DurableFileTest, OnlyTheWritersTemporaryFilesOfDeadProcessesAreRemoved) {
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);  // its number now names no process
    const std::string dead = "nuscores.dat.tmp-" + std::to_string(child) + "-aB3xYz";
    const std::vector<std::string> kept = {
        "nuscores.dat.tmp-" + std::to_string(getppid()) + "-aB3xYz",  // a running save
        "nuscores.dat.tmp-" + std::to_string(getpid()) + "-aB3xYz",   // this process's own
        "Setup.ini.tmp-Qw12Er",                                       // no process number
        "x.tmp-" + std::to_string(child) + "-aB3x.z",                 // not mkstemp's letters
        "x.tmp-0" + std::to_string(child) + "-aB3xYz",                // not how a number is written
        ".tmp-" + std::to_string(child) + "-aB3xYz",                  // no file it replaced
        "nuscores.dat",
        "a.tmp-1-short"};
    for (const std::string& name : kept) ASSERT_TRUE(WriteWholeFile(dir_ / name, "x"));
    ASSERT_TRUE(WriteWholeFile(dir_ / dead, "x"));
    std::filesystem::create_directory(dir_ / ("folder.tmp-" + std::to_string(child) + "-aB3xYz"));
    EXPECT_EQ(media::RemoveStaleTempFiles(dir_.path()), 1);
    EXPECT_EQ(media::FileType(dir_ / dead), 0);
    for (const std::string& name : kept) EXPECT_EQ(media::FileType(dir_ / name), 1) << name;
}

TEST_F(DurableFileTest, ASecondLockWaitsAndGivesUpUntilTheFirstIsReleased) {
    auto first = std::make_unique<media::TFileLock>(dir_ / "f.lock", 0);
    EXPECT_TRUE(first->Held());
    EXPECT_FALSE(media::TFileLock(dir_ / "f.lock", 20).Held());
    first.reset();
    EXPECT_TRUE(media::TFileLock(dir_ / "f.lock", 0).Held());
    EXPECT_FALSE(media::TFileLock(dir_ / "missing/f.lock", 0).Held());
}

}  // namespace
