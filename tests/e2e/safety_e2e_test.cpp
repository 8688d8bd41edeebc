// The program's files under hostile conditions, end to end: killed with
// SIGKILL at random moments (in a game, after one, during name entry), a
// disk that fills up during a save, and a read-only "Files/". Every run that
// was stored before stays readable, nothing is half-written, nothing is left
// behind, and the program carries on.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "tests/e2e/e2e_fixture.h"
#include "tests/support/program_harness.h"

namespace {

namespace fs = std::filesystem;
using zqtest::Pause;
using zqtest::ProgramRun;
using zqtest::ScoresJson;

// The logical screen of an 800x600 window and the title screen's centre column.
constexpr int kVW = 1280, kVH = 960;
constexpr int kCentreX = (kVW - 415) / 2;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool HoldsRun(const std::string& json, const std::string& name) {
    return json.find("\"name\":\"" + name + "\"") != std::string::npos;
}

// Returns the temporary files of saves left in the program's folders.
std::vector<std::string> TempFiles(ProgramRun& run) {
    std::vector<std::string> found;
    for (const char* folder : {"Files", "Files/274"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(run.Path(folder), ec)) {
            if (e.path().filename().string().find(".tmp-") != std::string::npos) {
                found.push_back(e.path().string());
            }
        }
    }
    return found;
}

// A mount made for one test, undone when the test ends.
class MountGuard {
  public:
    ~MountGuard() {
        if (!target_.empty()) ::umount2(target_.c_str(), MNT_DETACH);
    }
    // Mounts a tmpfs of the given size at target; false when mounting is not allowed.
    bool Tmpfs(const std::string& target, const std::string& size) {
        if (::mount("tmpfs", target.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0) {
            return false;
        }
        target_ = target;
        return true;
    }
    // Makes folder read-only by bind-mounting it onto itself.
    bool ReadOnlyBind(const std::string& folder) {
        if (::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0) return false;
        target_ = folder;
        return ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr) == 0;
    }

  private:
    std::string target_;
};

class SafetyE2E : public zqtest::ProgramTest {
  protected:
    void ClickLogical(ProgramRun& run, int x, int y) {
        run.MovePointerLogical(x, y, kVW, kVH);
        Pause(100);
        run.Click(1);
        Pause(200);
    }

    // Starts the program and waits for the title screen by its window (the
    // log may be unwritable).
    void StartToTitle(ProgramRun& run) {
        ASSERT_TRUE(run.Start());
        ASSERT_TRUE(run.WaitForWindow(120000)) << run.StdErr();
        Pause(4500);
    }

    // Starts a Medium game from the title screen; on a slow machine the
    // panel may still be sliding in, so the clicks are repeated (bounded)
    // until the dark playfield shows.
    bool StartGame(ProgramRun& run) {
        for (int attempt = 0; attempt < 4 && run.Running(); ++attempt) {
            ClickLogical(run, kCentreX - 50, kVH / 2 + 250 + 20);
            ClickLogical(run, kCentreX, kVH / 2 + 80);
            for (int waited = 0; waited < 6000; waited += 250) {
                if (run.MeanBlue() < 40) return true;
                Pause(250);
            }
        }
        return false;
    }

    // Plays a Medium game from the title screen and quits it from the pause
    // menu after flying for about flyMs; the name entry comes next.
    bool PlayAndQuit(ProgramRun& run, int flyMs) {
        if (!StartGame(run)) return false;
        Pause(flyMs);
        // The pause menu reads held keys once a frame: hold each one long
        // enough for a slow frame to see it, and try again (bounded) until
        // the name entry's blue screen shows.
        for (int attempt = 0; attempt < 4 && run.Running(); ++attempt) {
            HoldKey(run, "Escape");
            Pause(500);
            HoldKey(run, "Down");
            Pause(300);
            HoldKey(run, "space");
            for (int waited = 0; waited < 8000; waited += 250) {
                if (run.MeanBlue() > 40) return true;
                Pause(250);
            }
        }
        return false;
    }

    void HoldKey(ProgramRun& run, const std::string& key) {
        run.KeyDown(key);
        Pause(250);
        run.KeyUp(key);
    }

    // Waits (bounded) for the name entry's blue screen, then types the name;
    // Return is pressed only with confirm.
    bool TypeName(ProgramRun& run, const std::string& name, bool confirm) {
        bool entry = false;
        for (int waited = 0; waited < 30000 && !entry && run.Running(); waited += 250) {
            entry = run.MeanBlue() > 40;
            if (!entry) Pause(250);
        }
        if (!entry) {
            ADD_FAILURE() << "no name entry; running " << run.Running() << ", blue "
                          << run.MeanBlue();
            return false;
        }
        Pause(500);
        for (int i = 0; i < 12; ++i) run.TapKey("BackSpace");
        for (char c : name) run.TapKey(std::string(1, c));
        if (confirm) run.TapKey("Return");
        return true;
    }

    // Waits (bounded) until the score file holds the named run.
    bool WaitForStoredRun(ProgramRun& run, const std::string& name) {
        for (int waited = 0; waited < 10000; waited += 200) {
            if (HoldsRun(ScoresJson(run), name)) return true;
            Pause(200);
        }
        return false;
    }

    // Leaves through the closing screen without relying on the log.
    int QuitWithoutLog(ProgramRun& run) {
        Pause(2500);  // the front end's panel slides in again after a game
        HoldKey(run, "Escape");
        Pause(3000);
        HoldKey(run, "space");
        return run.WaitForExit(30000);
    }

    // Leaves through the closing screen, seen in the log.
    void QuitFromTitleHeld(ProgramRun& run) {
        const size_t from = run.LogLines().size();
        bool closing = false;
        for (int attempt = 0; attempt < 4 && !closing && run.Running(); ++attempt) {
            HoldKey(run, "Escape");
            closing = run.WaitForLogLine("Play again, soon!!", 8000, from);
        }
        ASSERT_TRUE(closing) << run.Running() << run.StdErr();
        Pause(500);
        HoldKey(run, "space");
        EXPECT_EQ(run.WaitForExit(30000), 0) << run.StdErr();
    }
};

TEST_F(SafetyE2E, KilledAtRandomMomentsNoStoredRunIsLostAndNoTemporaryFileStays) {
    ProgramRun run;
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::vector<std::string> stored;
    // Each round kills the program at a random moment of one phase:
    // 0 in a game, 1 during the name entry, 2 just after a name was confirmed
    // (while its run is being saved, or soon after).
    const int phases[] = {2, 0, 1, 2, 1, 0, 2};
    for (size_t round = 0; round < std::size(phases); ++round) {
        const int phase = phases[round];
        SCOPED_TRACE("round " + std::to_string(round) + " phase " + std::to_string(phase));
        StartToTitle(run);
        if (HasFatalFailure()) return;
        // The start before this one removed what the kill left behind.
        EXPECT_EQ(TempFiles(run), std::vector<std::string>{});
        const std::string name = "r" + std::to_string(round);
        if (phase == 0) {
            ASSERT_TRUE(StartGame(run)) << "the game did not start";
            Pause(std::uniform_int_distribution<int>(0, 3000)(random));
        } else {
            ASSERT_TRUE(PlayAndQuit(run, 800)) << "no name entry";
            ASSERT_TRUE(TypeName(run, name, phase == 2)) << run.Running() << run.StdErr();
            Pause(std::uniform_int_distribution<int>(0, phase == 2 ? 400 : 1500)(random));
        }
        run.Kill();
        const std::string json = ScoresJson(run);
        for (const std::string& earlier : stored) {
            EXPECT_TRUE(HoldsRun(json, earlier)) << earlier << " lost: " << json;
        }
        // A run confirmed just before the kill may or may not have been saved;
        // either way the file decodes and a later start keeps it.
        if (phase == 2 && HoldsRun(json, name)) stored.push_back(name);
        if (phase == 1) {
            EXPECT_FALSE(HoldsRun(json, name));
        }
    }
    StartToTitle(run);
    EXPECT_EQ(TempFiles(run), std::vector<std::string>{});
    QuitFromTitleHeld(run);
    const std::string json = ScoresJson(run);
    for (const std::string& earlier : stored) {
        EXPECT_TRUE(HoldsRun(json, earlier)) << earlier;
    }
}

TEST_F(SafetyE2E, FullDiskDuringASaveKeepsTheOldFileAndTheProgramCarriesOn) {
    ProgramRun run;
    // The game folder moves onto a small tmpfs; its assets are links.
    const std::string game = run.Path("Files/274");
    fs::rename(game, game + ".assets");
    fs::create_directory(game);
    MountGuard mount;
    ASSERT_TRUE(mount.Tmpfs(game, "256k")) << "mounting a tmpfs needs root";
    for (const auto& e : fs::directory_iterator(game + ".assets")) {
        fs::copy(e.path(), game + "/" + e.path().filename().string(),
                 fs::copy_options::copy_symlinks);
    }

    StartToTitle(run);
    ASSERT_TRUE(PlayAndQuit(run, 1000)) << "no name entry";
    ASSERT_TRUE(TypeName(run, "one", true));
    ASSERT_TRUE(WaitForStoredRun(run, "one"));
    const std::string before = ReadAll(game + "/nuscores.dat");

    // Fill the disk to the last byte.
    {
        std::ofstream filler(game + "/filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), block.size())) {
        }
    }
    const size_t logLines = run.LogLines().size();
    Pause(3000);  // the title panel slides in again after a game
    ASSERT_TRUE(PlayAndQuit(run, 1000)) << "no name entry";
    ASSERT_TRUE(TypeName(run, "two", true)) << run.Running() << run.StdErr();
    EXPECT_TRUE(run.WaitForLogLine(
        "\tScores not saved: cannot write the file: " + game + "/nuscores.dat", 15000, logLines));
    EXPECT_EQ(ReadAll(game + "/nuscores.dat"), before);
    EXPECT_EQ(TempFiles(run), std::vector<std::string>{});

    // The program carries on: back on the title screen, and out as usual.
    Pause(2500);
    EXPECT_GT(run.MeanBlue(), 40);
    QuitFromTitleHeld(run);
    EXPECT_EQ(ReadAll(game + "/nuscores.dat"), before);
}

TEST_F(SafetyE2E, ReadOnlyFilesFolderRunsReportsAndLosesNothing) {
    ProgramRun run;
    StartToTitle(run);
    ASSERT_TRUE(PlayAndQuit(run, 1000)) << "no name entry";
    ASSERT_TRUE(TypeName(run, "kept", true));
    ASSERT_TRUE(WaitForStoredRun(run, "kept"));
    run.TapKey("Tab");  // writes Setup.ini
    Pause(500);
    run.TapKey("Tab");
    EXPECT_EQ(QuitWithoutLog(run), 0);
    const std::string scores = ReadAll(run.Path("Files/274/nuscores.dat"));
    const std::string setup = ReadAll(run.Path("Files/Setup.ini"));
    ASSERT_FALSE(scores.empty());
    ASSERT_FALSE(setup.empty());

    // A folder that cannot be written runs with the player's own folders,
    // seeded from it once: the runs stored there stay visible and new ones
    // are kept, while the folder itself is never touched.
    const std::string home = run.Path("home");
    fs::create_directory(home);
    run.SetEnv("HOME", home.c_str());
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
        run.SetEnv(name, nullptr);
    }
    MountGuard mount;
    ASSERT_TRUE(mount.ReadOnlyBind(run.Path("Files"))) << "a read-only bind mount needs root";
    ASSERT_TRUE(run.Start());
    const std::string log = home + "/.local/state/zarquill/Debug.txt";
    for (int waited = 0; waited < 120000 && ReadAll(log).find("Finished Loading") == std::string::npos;
         waited += 250) {
        Pause(250);
    }
    ASSERT_NE(ReadAll(log).find("Finished Loading"), std::string::npos) << run.StdErr();
    ASSERT_TRUE(run.WaitForWindow());
    Pause(3500);
    ASSERT_TRUE(PlayAndQuit(run, 1000)) << "no name entry";
    ASSERT_TRUE(TypeName(run, "new", true)) << run.StdErr();
    Pause(1000);
    run.TapKey("Tab");
    Pause(500);
    run.TapKey("Tab");
    EXPECT_EQ(QuitWithoutLog(run), 0) << run.StdErr();
    EXPECT_EQ(ReadAll(run.Path("Files/274/nuscores.dat")), scores);
    EXPECT_EQ(ReadAll(run.Path("Files/Setup.ini")), setup);
    EXPECT_FALSE(ReadAll(home + "/.config/zarquill/Setup.ini").empty());
    const std::string json = ScoresJson(run);
    EXPECT_TRUE(HoldsRun(json, "kept")) << json;
    EXPECT_TRUE(HoldsRun(json, "new")) << json;
}

}  // namespace
