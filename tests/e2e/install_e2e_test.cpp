// The installed game end to end: installed into a temporary root that is then made
// read-only, started with HOME and the XDG variables in a temporary folder, it takes a
// screenshot, plays a game with a name and leaves. The installed tree stays byte-identical,
// the player's files land in their XDG folders, and the installed --scores prints the run.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/own_namespace.h"

namespace {

namespace fs = std::filesystem;
using zqtest::ProgramRun;
using zqtest::ScoresJson;

// Every entry below root: its kind, mode and contents (or link target).
std::map<std::string, std::string> Snapshot(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        struct stat st {};
        ::lstat(e.path().c_str(), &st);
        std::string what = std::to_string(st.st_mode) + ":";
        if (e.is_symlink()) {
            what += fs::read_symlink(e.path()).string();
        } else if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            what += bytes.str();
        }
        tree[fs::relative(e.path(), root).string()] = what;
    }
    return tree;
}

int FolderMode(const fs::path& dir) {
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? (st.st_mode & 07777) : -1;
}

using InstalledE2E = zqtest::ProgramTest;

TEST_F(InstalledE2E, ReadOnlyInstallKeepsThePlayersFilesInTheXdgFolders) {
    if (!zqtest::InOwnNamespace()) return;  // to mount the installed tree read-only
    ProgramRun run;
    const fs::path dest = run.Path("dest"), home = run.Path("home");
    const std::string install = "DESTDIR='" + dest.string() +
                                "' cmake --install '" ZQ_DIST_DIR "/..' --prefix /usr > '" +
                                run.Path("install.txt") + "' 2>&1";
    ASSERT_EQ(std::system(install.c_str()), 0) << install;
    const fs::path usr = dest / "usr";

    // The pictures folder comes from user-dirs.dirs in the config home; a relative
    // XDG_DATA_HOME is ignored, so the scores go to the default below HOME.
    fs::create_directories(home / "cfg");
    std::ofstream(home / "cfg/user-dirs.dirs") << "XDG_PICTURES_DIR=\"$HOME/Shots\"\n";
    const fs::path config = home / "cfg/zarquill", data = home / ".local/share/zarquill",
                   state = home / ".local/state/zarquill", shots = home / "Shots/zarquill";
    run.UseProgram((usr / "games/zarquill").string(), home.string(),
                   (state / "Debug.txt").string());
    run.SetEnv("HOME", home.c_str());
    run.SetEnv("XDG_CONFIG_HOME", (home / "cfg").c_str());
    run.SetEnv("XDG_DATA_HOME", "relative/data");
    run.SetEnv("XDG_STATE_HOME", nullptr);

    {
        zqtest::MountGuard readOnly;
        ASSERT_TRUE(readOnly.ReadOnlyBind(usr.string())) << "cannot make " << usr << " read-only";
        const auto before = Snapshot(usr);
        ASSERT_TRUE(before.count("games/zarquill"));
        ASSERT_TRUE(StartToTitle(run));
        run.TapKey("F11");
        ASSERT_TRUE(run.WaitForLogLine("\tSaved Screenshot 1", 30000)) << run.StdErr();
        ASSERT_TRUE(PlayAndEnter(run, zqtest::Difficulty::kMedium, "inst"));
        EXPECT_TRUE(WaitForStoredRun(run, "inst"));
        EXPECT_TRUE(QuitFromTitle(run));
        // --help names the folders in use.
        const std::string help = run.RunOnce({"--help"});
        EXPECT_NE(help.find((config / "Setup.ini").string()), std::string::npos) << help;
        EXPECT_NE(help.find((data / "274/nuscores.dat").string()), std::string::npos) << help;
        EXPECT_TRUE(Snapshot(usr) == before) << "the installed tree changed";
    }

    EXPECT_TRUE(fs::is_regular_file(config / "Setup.ini"));
    EXPECT_TRUE(fs::is_regular_file(data / "274/nuscores.dat"));
    EXPECT_TRUE(fs::is_regular_file(state / "Debug.txt"));
    EXPECT_FALSE(fs::exists(state / "crash.dat"));
    int pictures = 0;
    for (const auto& e : fs::directory_iterator(shots)) pictures += e.path().extension() == ".png";
    EXPECT_EQ(pictures, 1);
    for (const fs::path& made : {config, data, data / "274", state, shots}) {
        EXPECT_EQ(FolderMode(made), 0700) << made;
    }
    EXPECT_FALSE(fs::exists(home / "relative"));  // the relative XDG value made nothing
    EXPECT_TRUE(zqtest::HoldsRun(ScoresJson(run), "inst"));
}

}  // namespace
