// Folders and what lies at a path.
#include "engine/media/folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "tests/support/temp_dir.h"

namespace {

using zqtest::WriteWholeFile;

class FoldersTest : public ::testing::Test {
  protected:
    zqtest::TempDir dir_;
    zqtest::CwdGuard cwd_;
};

TEST_F(FoldersTest, FileTypeAndDelete) {
    EXPECT_EQ(media::FileType(dir_ / "nothing"), 0);
    EXPECT_EQ(media::FileType(dir_.path()), 2);
    ASSERT_TRUE(WriteWholeFile(dir_ / "f", "x"));
    EXPECT_EQ(media::FileType(dir_ / "f"), 1);
    EXPECT_TRUE(media::DeleteFile(dir_ / "f"));
    EXPECT_EQ(media::FileType(dir_ / "f"), 0);
    EXPECT_TRUE(media::DeleteFile(dir_ / "f"));  // nothing left: still true
}

TEST_F(FoldersTest, ChangeDirAndCurrentDir) {
    ASSERT_EQ(::mkdir((dir_ / "Files").c_str(), 0755), 0);
    EXPECT_TRUE(media::ChangeDir(dir_ / "Files"));
    EXPECT_EQ(media::CurrentDir(), dir_ / "Files");
    EXPECT_TRUE(media::ChangeDir(".."));
    EXPECT_EQ(media::CurrentDir(), dir_.path());
    EXPECT_FALSE(media::ChangeDir("missing/"));
    EXPECT_EQ(media::CurrentDir(), dir_.path());
    const std::string exe = media::ExecutableDir();
    ASSERT_FALSE(exe.empty());
    EXPECT_NE(exe.back(), '/');
    EXPECT_EQ(media::FileType(exe), 2);
}

TEST_F(FoldersTest, FolderNames) {
    struct Case {
        const char* in;
        const char* asFolder;
        const char* folderOf;
    } cases[] = {
        {"/a/b", "/a/b/", "/a/"}, {"/a/b//", "/a/b/", "/a/b//"},
        {"/", "/", "/"},          {"name", "name/", ""},
        {"/name", "/name/", "/"}, {"a/b/c.txt", "a/b/c.txt/", "a/b/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(media::AsFolder(c.in), c.asFolder) << c.in;
        EXPECT_EQ(media::FolderOf(c.in), c.folderOf) << c.in;
    }
}

TEST_F(FoldersTest, ListFilesNamesOnlyRegularFiles) {
    ASSERT_TRUE(WriteWholeFile(dir_ / "b.zqr", "x"));
    ASSERT_TRUE(WriteWholeFile(dir_ / "a.zqr", "x"));
    ASSERT_EQ(::mkdir((dir_ / "sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("a.zqr", (dir_ / "link").c_str()), 0);
    std::vector<std::string> names = media::ListFiles(dir_.path());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.zqr", "b.zqr"}));
    EXPECT_TRUE(media::ListFiles(dir_ / "missing").empty());
}

}  // namespace
