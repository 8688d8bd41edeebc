// The installed layout: the XDG rules in one table, the choice of layout, and the private
// folders and seed copies made on first use.
#include "engine/media/installed_layout.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>

#include "engine/media/folders.h"
#include "tests/support/temp_dir.h"

namespace {

struct XdgCase {
    const char* name;
    std::map<std::string, std::string> env;
    std::string userDirs;  // content of the config home's user-dirs.dirs
    std::string accountHome;
    std::string config, data, state, pictures;  // expected ("" = not resolvable)
};

const XdgCase kCases[] = {
    {"defaults below HOME",
     {{"HOME", "/home/p"}},
     "",
     "/home/acct",
     "/home/p/.config/zarquill/",
     "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/",
     "/home/p/Pictures/zarquill/"},
    {"absolute values win, trailing slashes trimmed",
     {{"HOME", "/home/p/"},
      {"XDG_CONFIG_HOME", "/c//"},
      {"XDG_DATA_HOME", "/d"},
      {"XDG_STATE_HOME", "/s"}},
     "",
     "",
     "/c/zarquill/",
     "/d/zarquill/",
     "/s/zarquill/",
     "/home/p/Pictures/zarquill/"},
    {"relative values are ignored",
     {{"HOME", "/home/p"},
      {"XDG_CONFIG_HOME", "cfg"},
      {"XDG_DATA_HOME", "./d"},
      {"XDG_STATE_HOME", "~/s"}},
     "",
     "",
     "/home/p/.config/zarquill/",
     "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/",
     "/home/p/Pictures/zarquill/"},
    {"no HOME: the account's home",
     {},
     "",
     "/home/acct",
     "/home/acct/.config/zarquill/",
     "/home/acct/.local/share/zarquill/",
     "/home/acct/.local/state/zarquill/",
     "/home/acct/Pictures/zarquill/"},
    {"relative HOME and no account home: nothing", {{"HOME", "home/p"}}, "", "", "", "", "", ""},
    {"pictures from user-dirs, $HOME form",
     {{"HOME", "/home/p"}},
     "# comment\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n",
     "",
     "/home/p/.config/zarquill/",
     "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/",
     "/home/p/Bilder/zarquill/"},
    {"pictures from user-dirs in the XDG config home, absolute, last one wins",
     {{"HOME", "/home/p"}, {"XDG_CONFIG_HOME", "/cfg"}},
     "XDG_PICTURES_DIR=\"$HOME/Old\"\nXDG_PICTURES_DIR=\"/media/my pics\"\n",
     "",
     "/cfg/zarquill/",
     "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/",
     "/media/my pics/zarquill/"},
    {"unusable user-dirs entries fall back to ~/Pictures",
     {{"HOME", "/home/p"}},
     "#XDG_PICTURES_DIR=\"/commented\"\nXDG_PICTURES_DIR=\"Pics\"\nXDG_MUSIC_DIR=\"/m\"\n",
     "",
     "/home/p/.config/zarquill/",
     "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/",
     "/home/p/Pictures/zarquill/"},
    {"user-dirs pointing at the home itself",
     {{"HOME", "/home/p"}},
     "XDG_PICTURES_DIR=\"$HOME/\"\n",
     "",
     "/home/p/.config/zarquill/",
     "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/",
     "/home/p/zarquill/"},
};

TEST(XdgFolders, ResolveFollowsTheXdgRules) {
    for (const XdgCase& c : kCases) {
        SCOPED_TRACE(c.name);
        media::TXdgInputs in;
        std::string readFrom;
        in.env = [&c](const std::string& name) {
            auto it = c.env.find(name);
            return it == c.env.end() ? std::string() : it->second;
        };
        in.readText = [&](const std::string& path) {
            readFrom = path;
            return c.userDirs;
        };
        in.accountHome = c.accountHome;
        media::TXdgFolders f = media::ResolveXdgFolders(in);
        EXPECT_EQ(f.config, c.config);
        EXPECT_EQ(f.data, c.data);
        EXPECT_EQ(f.state, c.state);
        EXPECT_EQ(f.pictures, c.pictures);
        EXPECT_EQ(f.Ok(), !c.config.empty());
        if (f.Ok()) {
            // The user-dirs file lives in the config home, not in the program's folder.
            EXPECT_EQ(readFrom, c.config.substr(0, c.config.size() - 9) + "user-dirs.dirs");
        }
    }
}

TEST(XdgFolders, InstalledPathsReadDataInPlaceAndWriteToTheUserFolders) {
    media::TXdgFolders f{"/c/zarquill/", "/d/zarquill/", "/s/zarquill/", "/p/zarquill/"};
    media::TProgramPaths p = media::InstalledPaths("/usr/share/games/zarquill/Files", "274", f);
    EXPECT_TRUE(p.installed);
    EXPECT_EQ(p.filesDir, "/usr/share/games/zarquill/Files/");
    EXPECT_EQ(p.gameDir, "/usr/share/games/zarquill/Files/274/");
    EXPECT_EQ(p.setupFile, "/c/zarquill/Setup.ini");
    EXPECT_EQ(p.scoreFile, "/d/zarquill/274/nuscores.dat");
    EXPECT_EQ(p.logFile, "/s/zarquill/Debug.txt");
    EXPECT_EQ(p.crashMarker, "/s/zarquill/crash.dat");
    EXPECT_EQ(p.screenshotDir, "/p/zarquill/");
}

TEST(XdgFolders, MakeFoldersCreatesOnlyMissingFoldersWithTheModeGiven) {
    zqtest::TempDir dir;
    zqtest::CwdGuard cwd;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string deep = dir / "a/b/c";
    ASSERT_TRUE(media::MakeFolders(deep, media::kPrivateFolderMode));
    for (const std::string& made : {dir / "a", dir / "a/b", deep}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    struct stat top {};
    ASSERT_EQ(::stat(dir.path().c_str(), &top), 0);
    EXPECT_EQ(top.st_mode & 0777, 0755u);  // an existing folder keeps its mode
    EXPECT_TRUE(media::MakeFolders(deep + "/", media::kPrivateFolderMode));
    ASSERT_TRUE(media::ChangeDir(dir.path()));
    EXPECT_TRUE(media::MakeFolders("relative/folder"));
    EXPECT_EQ(media::FileType(dir / "relative/folder"), 2);
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "file", "x"));
    EXPECT_FALSE(media::MakeFolders(dir / "file/sub"));
    EXPECT_FALSE(media::MakeFolders(""));
}

// A tree of folders for the layout choice: a working folder, a program folder and the
// installed data beside it, each present or not, writable or not.
class LayoutChoice : public ::testing::Test {
  protected:
    std::string Make(const std::string& rel) {
        std::filesystem::create_directories(root_ / rel);
        return root_ / rel;
    }
    media::TLayoutChoice Choose(const std::set<std::string>& readOnly,
                                std::map<std::string, std::string> env = {{"HOME", "/home/p"}}) {
        media::TLayoutInputs in;
        in.currentDir = root_ / "cwd";
        in.exeDir = root_ / "usr/games";
        in.gameFolder = "274/";
        in.installedFilesRel = "../share/games/zarquill/Files";
        in.xdg.env = [env](const std::string& name) {
            auto it = env.find(name);
            return it == env.end() ? std::string() : it->second;
        };
        in.xdg.readText = [](const std::string&) { return std::string(); };
        in.writable = [this, readOnly](const std::string& dir) {
            for (const std::string& rel : readOnly) {
                if (dir.rfind(root_ / rel, 0) == 0) return false;
            }
            return true;
        };
        return media::ChooseProgramPaths(in);
    }
    zqtest::TempDir root_;
};

TEST_F(LayoutChoice, PortableWhenWritableInstalledWhenNotOrWhenOnlyTheInstalledDataExists) {
    Make("usr/games");
    const std::string installed = Make("usr/share/games/zarquill/Files/Common");
    Make("cwd/Files/Common");
    Make("cwd/Files/274");

    // A writable portable folder wins over installed data.
    media::TLayoutChoice c = Choose({});
    EXPECT_FALSE(c.choice.paths.installed);
    EXPECT_EQ(c.choice.paths.filesDir, root_.path() + "/cwd/Files/");
    EXPECT_TRUE(c.seedSetup.empty());

    // Read-only (the whole folder, or only its game folder): installed over its data, seeded.
    for (const char* ro : {"cwd", "cwd/Files/274"}) {
        SCOPED_TRACE(ro);
        c = Choose({ro});
        EXPECT_TRUE(c.choice.paths.installed);
        EXPECT_TRUE(c.choice.problem.empty());
        EXPECT_EQ(c.choice.paths.filesDir, root_.path() + "/cwd/Files/");
        EXPECT_EQ(c.choice.paths.scoreFile, "/home/p/.local/share/zarquill/274/nuscores.dat");
        EXPECT_EQ(c.seedSetup, root_.path() + "/cwd/Files/Setup.ini");
        EXPECT_EQ(c.seedScores, root_.path() + "/cwd/Files/274/nuscores.dat");
    }

    // No portable folder: the installed data, found from the executable, path made plain.
    std::filesystem::remove_all(root_ / "cwd/Files");
    c = Choose({"usr"});
    EXPECT_TRUE(c.choice.paths.installed);
    EXPECT_EQ(c.choice.paths.filesDir, installed.substr(0, installed.size() - 6));
    EXPECT_EQ(c.choice.paths.setupFile, "/home/p/.config/zarquill/Setup.ini");
    EXPECT_TRUE(c.seedSetup.empty() && c.seedScores.empty());

    // No home folder to write into: not installed, and said so.
    c = Choose({"usr"}, {{"HOME", "relative"}});
    EXPECT_FALSE(c.choice.paths.installed);
    EXPECT_NE(c.choice.problem.find("no home folder"), std::string::npos);

    // No data anywhere: the portable rule's own report.
    std::filesystem::remove_all(root_ / "usr/share");
    c = Choose({});
    EXPECT_FALSE(c.choice.paths.installed);
    EXPECT_NE(c.choice.problem.find("game data not found"), std::string::npos);
}

TEST_F(LayoutChoice, PreparedFoldersArePrivateAndSeededOnceFromTheReadOnlyFolder) {
    Make("cwd/Files/Common");
    Make("cwd/Files/274");
    ASSERT_TRUE(
        zqtest::WriteWholeFile(root_ / "cwd/Files/Setup.ini", "[Graphics]\r\nWidth=1024\r\n"));
    ASSERT_TRUE(
        zqtest::WriteWholeFile(root_ / "cwd/Files/274/nuscores.dat", std::string("AB\0CD\r\n", 7)));
    media::TLayoutChoice c = Choose({"cwd"}, {{"HOME", root_ / "home"}});
    ASSERT_TRUE(c.choice.paths.installed);
    ASSERT_TRUE(media::PrepareInstalledFolders(c));

    const media::TProgramPaths& p = c.choice.paths;
    EXPECT_EQ(zqtest::ReadWholeFile(p.setupFile), "[Graphics]\r\nWidth=1024\r\n");
    EXPECT_EQ(zqtest::ReadWholeFile(p.scoreFile), std::string("AB\0CD\r\n", 7));
    for (const std::string& folder :
         {root_ / "home/.config", root_ / "home/.local/share/zarquill/274",
          root_ / "home/.local/state/zarquill"}) {
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0) << folder;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    EXPECT_EQ(media::FileType(root_ / "home/Pictures"), 0);  // made by the first screenshot

    // Once the player has files of their own, the portable folder no longer overwrites them.
    ASSERT_TRUE(zqtest::WriteWholeFile(p.setupFile, "mine"));
    std::filesystem::remove(p.scoreFile);
    ASSERT_TRUE(media::PrepareInstalledFolders(c));
    EXPECT_EQ(zqtest::ReadWholeFile(p.setupFile), "mine");
    EXPECT_EQ(zqtest::ReadWholeFile(p.scoreFile), std::string("AB\0CD\r\n", 7));

    // Only regular files are copied.
    EXPECT_TRUE(media::SeedFile("/nonexistent/file", root_ / "none"));
    EXPECT_EQ(media::FileType(root_ / "none"), 0);
    EXPECT_FALSE(media::SeedFile("/dev/zero", root_ / "zero"));
    EXPECT_EQ(media::FileType(root_ / "zero"), 0);
}

}  // namespace
