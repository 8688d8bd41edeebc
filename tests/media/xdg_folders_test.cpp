// The per-user folders of the installed layout: the XDG rules in one table, and the private
// folders made on first use.
#include "engine/media/xdg_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>

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
    {"defaults below HOME", {{"HOME", "/home/p"}}, "", "/home/acct",
     "/home/p/.config/zarquill/", "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/", "/home/p/Pictures/zarquill/"},
    {"absolute values win, trailing slashes trimmed",
     {{"HOME", "/home/p/"}, {"XDG_CONFIG_HOME", "/c//"}, {"XDG_DATA_HOME", "/d"},
      {"XDG_STATE_HOME", "/s"}},
     "", "", "/c/zarquill/", "/d/zarquill/", "/s/zarquill/", "/home/p/Pictures/zarquill/"},
    {"relative values are ignored",
     {{"HOME", "/home/p"}, {"XDG_CONFIG_HOME", "cfg"}, {"XDG_DATA_HOME", "./d"},
      {"XDG_STATE_HOME", "~/s"}},
     "", "", "/home/p/.config/zarquill/", "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/", "/home/p/Pictures/zarquill/"},
    {"no HOME: the account's home", {}, "", "/home/acct", "/home/acct/.config/zarquill/",
     "/home/acct/.local/share/zarquill/", "/home/acct/.local/state/zarquill/",
     "/home/acct/Pictures/zarquill/"},
    {"relative HOME and no account home: nothing", {{"HOME", "home/p"}}, "", "", "", "", "", ""},
    {"pictures from user-dirs, $HOME form",
     {{"HOME", "/home/p"}}, "# comment\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n", "",
     "/home/p/.config/zarquill/", "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/", "/home/p/Bilder/zarquill/"},
    {"pictures from user-dirs in the XDG config home, absolute, last one wins",
     {{"HOME", "/home/p"}, {"XDG_CONFIG_HOME", "/cfg"}},
     "XDG_PICTURES_DIR=\"$HOME/Old\"\nXDG_PICTURES_DIR=\"/media/my pics\"\n", "",
     "/cfg/zarquill/", "/home/p/.local/share/zarquill/", "/home/p/.local/state/zarquill/",
     "/media/my pics/zarquill/"},
    {"unusable user-dirs entries fall back to ~/Pictures",
     {{"HOME", "/home/p"}},
     "#XDG_PICTURES_DIR=\"/commented\"\nXDG_PICTURES_DIR=\"Pics\"\nXDG_MUSIC_DIR=\"/m\"\n", "",
     "/home/p/.config/zarquill/", "/home/p/.local/share/zarquill/",
     "/home/p/.local/state/zarquill/", "/home/p/Pictures/zarquill/"},
    {"user-dirs pointing at the home itself", {{"HOME", "/home/p"}},
     "XDG_PICTURES_DIR=\"$HOME/\"\n", "", "/home/p/.config/zarquill/",
     "/home/p/.local/share/zarquill/", "/home/p/.local/state/zarquill/", "/home/p/zarquill/"},
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

TEST(XdgFolders, MakePrivateFoldersCreatesOnlyMissingFoldersAs0700) {
    zqtest::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string deep = dir / "a/b/c";
    ASSERT_TRUE(media::MakePrivateFolders(deep));
    for (const std::string& made : {dir / "a", dir / "a/b", deep}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 0777, 0700u) << made;
    }
    struct stat top {};
    ASSERT_EQ(::stat(dir.path().c_str(), &top), 0);
    EXPECT_EQ(top.st_mode & 0777, 0755u);  // an existing folder keeps its mode
    EXPECT_TRUE(media::MakePrivateFolders(deep + "/"));
    EXPECT_FALSE(media::MakePrivateFolders("relative/folder"));
    ASSERT_TRUE(zqtest::WriteWholeFile(dir / "file", "x"));
    EXPECT_FALSE(media::MakePrivateFolders(dir / "file/sub"));
}

}  // namespace
