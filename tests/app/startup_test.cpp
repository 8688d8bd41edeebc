// The start-up spine on a virtual clock with a fake audio layer: the log it
// writes, the audio driver it selects, the minimum loading time and the
// folder rule; and the real program's command line.
#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "engine/log.h"
#include "engine/media/clock.h"
#include "engine/media/paths.h"
#include "engine/setup_table.h"
#include "scores/score_file.h"
#include "scores/scores.h"
#include "tests/support/clocks.h"
#include "tests/support/temp_dir.h"

namespace {

using zqtest::ReadWholeFile;
using zqtest::WriteWholeFile;

struct FakeAudio {
    explicit FakeAudio(std::vector<std::string> list) : names(std::move(list)) {}
    std::vector<std::string> names;
    bool openALUsable = true;
    std::vector<std::string> selected;
    int openALProbes = 0;

    app::AudioBackend Backend() {
        app::AudioBackend b;
        b.drivers = [this] { return names; };
        b.exists = [this](const std::string& n) {
            for (const auto& x : names) {
                if (x == n) return true;
            }
            return false;
        };
        b.set = [this](const std::string& n) {
            selected.push_back(n);
            return true;
        };
        b.enableOpenAL = [this] {
            ++openALProbes;
            return openALUsable;
        };
        return b;
    }
};

class StartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "Files/274");
        std::filesystem::create_directories(dir_ / "Files/Common");
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override { engine::CloseLog(); }
    std::string Log() { return ReadWholeFile(dir_ / "Files/Debug.txt"); }

    zqtest::TempDir dir_;
    zqtest::CwdGuard cwd_;
    zqtest::VirtualClockInPlace<> clock_;
};

std::string Crlf(std::initializer_list<const char*> lines) {
    std::string out;
    for (const char* l : lines) out += std::string(l) + "\r\n";
    return out;
}

TEST_F(StartupTest, LogWithoutSettingsFileRunsFromBannerToFinishedLoading) {
    FakeAudio audio{{"Null", "FreeMixer", "FreeMixer OpenSound System"}};
    app::StartupStages stages;
    app::RunStartup(audio.Backend(), stages);
    EXPECT_EQ(Log(),
              Crlf({"Torvik's Wekkaplay Engine", "----------------------------", "Week #274",
                    "----------------------------", "#274 : Vantrelle -=Daz4=-",
                    "----------------------------", "", "Loading", "Setting Audio Driver",
                    "Set Audio Driver", "", "\tRequested Resolution : 800x600", "\tSetup Loaded",
                    "", "Grabbing Previous Scores", "", "Finished Loading"}));
    EXPECT_EQ(audio.selected, std::vector<std::string>{"FreeMixer"});
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(dir_ / "Files/274"));
}

TEST_F(StartupTest, SettingsFileLinesAreLoggedAndRequestedSizeReported) {
    WriteWholeFile(dir_ / "Files/Setup.ini", "Width=1024\r\nHeight=768\r\nFullscreen = True\r\n");
    FakeAudio audio{{"Null"}};
    app::RunStartup(audio.Backend(), app::StartupStages{});
    std::string log = Log();
    EXPECT_NE(log.find("Loading\r\n\tReading Setup File\r\n\tSetting to Fullscreen\r\nSetting "
                       "Audio Driver\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tRequested Resolution : 1024x768\r\n"), std::string::npos);
}

TEST_F(StartupTest, UnknownConfiguredDriverFallsBackToTheFirstListed) {
    WriteWholeFile(dir_ / "Files/Setup.ini", "AudioDriver = openal\r\n");
    FakeAudio audio{{"Null", "FreeMixer", "OpenAL Default"}};
    app::RunStartup(audio.Backend(), app::StartupStages{});
    EXPECT_EQ(audio.selected, std::vector<std::string>{"Null"});
    EXPECT_EQ(engine::Setup[engine::SETUP_AUDIODRIVER], 0);
}

TEST_F(StartupTest, OpenALIsSelectedOnlyWhenTheLibraryIsUsable) {
    FakeAudio usable{{"Null", "OpenAL Default"}};
    app::RunStartup(usable.Backend(), app::StartupStages{});
    EXPECT_EQ(usable.selected, std::vector<std::string>{"OpenAL Default"});

    engine::CloseLog();
    std::filesystem::current_path(dir_.path());
    FakeAudio unusable{{"Null", "OpenAL Default"}};
    unusable.openALUsable = false;
    app::RunStartup(unusable.Backend(), app::StartupStages{});
    EXPECT_TRUE(unusable.selected.empty());
    EXPECT_EQ(unusable.openALProbes, 1);
}

TEST_F(StartupTest, EmptyDriverListSelectsNothingAndCarriesOn) {
    FakeAudio audio{{}};
    app::RunStartup(audio.Backend(), app::StartupStages{});
    EXPECT_TRUE(audio.selected.empty());
    EXPECT_NE(Log().find("Finished Loading"), std::string::npos);
}

TEST_F(StartupTest, FrontEndStartsNoSoonerThanTheMinimumAfterTheFolderChange) {
    FakeAudio audio{{"Null"}};
    int graphicsStart = -1, frontEndStart = -1;
    app::StartupStages stages;
    stages.applyGraphics = [&] {
        graphicsStart = media::Millisecs();
        clock_->Advance(400);  // loading finished in 0.4 s
    };
    stages.frontEnd = [&] { frontEndStart = media::Millisecs(); };
    app::RunStartup(audio.Backend(), stages);
    EXPECT_EQ(frontEndStart - graphicsStart, app::kMinimumLoadingMs);
    EXPECT_NE(Log().find("Finished Loading"), std::string::npos);

    // A slow load is not made any longer.
    engine::CloseLog();
    std::filesystem::current_path(dir_.path());
    stages.applyGraphics = [&] {
        graphicsStart = media::Millisecs();
        clock_->Advance(4000);
    };
    app::RunStartup(audio.Backend(), stages);
    EXPECT_EQ(frontEndStart - graphicsStart, 4000);
}

TEST_F(StartupTest, StagesRunInOrderAroundTheLog) {
    FakeAudio audio{{"Null"}};
    std::vector<std::string> order;
    app::StartupStages stages;
    stages.createTables = [&] { order.push_back("tables"); };
    stages.discoverJoysticks = [&] { order.push_back("joysticks"); };
    stages.applyGraphics = [&] {
        order.push_back("graphics:" + std::filesystem::current_path().filename().string());
    };
    stages.afterGraphics = [&] { order.push_back("after"); };
    stages.frontEnd = [&] { order.push_back("front end"); };
    app::RunStartup(audio.Backend(), stages);
    EXPECT_EQ(order, (std::vector<std::string>{"tables", "joysticks", "graphics:274", "after",
                                               "front end"}));
}

TEST_F(StartupTest, LogThatCannotBeCreatedIsDropped) {
    // Neither a folder nor a FIFO named Debug.txt takes the log. A FIFO without
    // a reader must not hold start-up: the alarm turns such a hang into a failure.
    for (bool fifo : {false, true}) {
        SCOPED_TRACE(fifo ? "FIFO" : "folder");
        std::filesystem::current_path(dir_.path());  // start-up moves into the game folder
        std::filesystem::remove_all(dir_ / "Files/Debug.txt");
        if (fifo) {
            ASSERT_EQ(::mkfifo((dir_ / "Files/Debug.txt").c_str(), 0600), 0);
        } else {
            std::filesystem::create_directories(dir_ / "Files/Debug.txt");
        }
        FakeAudio audio{{"Null"}};
        bool reachedFrontEnd = false;
        app::StartupStages stages;
        stages.frontEnd = [&] { reachedFrontEnd = true; };
        ::alarm(60);
        app::RunStartup(audio.Backend(), stages);
        ::alarm(0);
        EXPECT_TRUE(reachedFrontEnd);
        EXPECT_FALSE(engine::LogIsOpen());
    }
}

TEST(KilledSaves, TemporaryFilesOfDeadSavesGoFromEveryFolderTheProgramSavesInto) {
    zqtest::TempDir dir;
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);  // its number now names no process
    const std::string dead = ".tmp-" + std::to_string(child) + "-aB3xYz";
    const std::string live = ".tmp-" + std::to_string(getppid()) + "-aB3xYz";
    media::TProgramPaths paths;
    paths.setupFile = dir / "config/Setup.ini";
    paths.scoreFile = dir / "data/274/nuscores.dat";
    const media::TProgramPaths saved = media::ProgramPaths();
    media::SetProgramPaths(paths);
    const std::vector<std::string> files = {paths.setupFile, paths.scoreFile,
                                            dir / "data/274/replays/2026-01-02_03-04-05_10.zqr"};
    for (const std::string& file : files) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        ASSERT_TRUE(WriteWholeFile(file + dead, "x"));
        ASSERT_TRUE(WriteWholeFile(file + live, "x"));
    }
    app::RemoveKilledSaves();
    media::SetProgramPaths(saved);
    for (const std::string& file : files) {
        EXPECT_FALSE(std::filesystem::exists(file + dead)) << file;
        EXPECT_TRUE(std::filesystem::exists(file + live)) << file;
    }
}

TEST(FolderRule, DataFolderIsTheOneHoldingCommonAndEveryPathLiesInside) {
    zqtest::TempDir here, exe;
    // A bare "Files/" entry is not the data folder: only "Files/Common" counts.
    std::filesystem::create_directories(here / "Files");
    std::filesystem::create_directories(exe / "Files/Common");
    media::TPathChoice c = media::ResolvePortablePaths(here.path(), exe.path(), "274/");
    EXPECT_EQ(c.problem, "");
    EXPECT_EQ(c.paths.filesDir, exe.path() + "/Files/");
    EXPECT_EQ(c.paths.setupFile, exe.path() + "/Files/Setup.ini");
    EXPECT_EQ(c.paths.logFile, exe.path() + "/Files/Debug.txt");
    EXPECT_EQ(c.paths.scoreFile, exe.path() + "/Files/274/nuscores.dat");
    EXPECT_EQ(c.paths.crashMarker, exe.path() + "/Files/274/crash.dat");
    EXPECT_EQ(c.paths.screenshotDir, exe.path() + "/Files/");

    std::filesystem::create_directories(here / "Files/Common");
    c = media::ResolvePortablePaths(here.path() + "/", exe.path(), "274/");
    EXPECT_EQ(c.paths.filesDir, here.path() + "/Files/");

    // Neither holds the data: the executable's own "Files/" is used, the
    // report names the folders looked in, and the folders are made on request.
    zqtest::TempDir a, b;
    c = media::ResolvePortablePaths(a.path(), b.path(), "274/");
    EXPECT_EQ(c.paths.filesDir, b.path() + "/Files/");
    EXPECT_NE(c.problem.find(a.path() + "/Files/Common"), std::string::npos) << c.problem;
    EXPECT_NE(c.problem.find(b.path() + "/Files/Common"), std::string::npos) << c.problem;
    EXPECT_TRUE(media::CreateProgramFolders(c.paths));
    EXPECT_TRUE(std::filesystem::is_directory(b / "Files/274"));
    EXPECT_EQ(media::ResolvePortablePaths(a.path(), "", "274/").paths.filesDir,
              a.path() + "/Files/");

    // A game folder that is a file cannot be made; nothing is written elsewhere.
    zqtest::TempDir c2;
    std::filesystem::create_directories(c2 / "Files/Common");
    WriteWholeFile(c2 / "Files/274", "x");
    c = media::ResolvePortablePaths(c2.path(), "", "274/");
    EXPECT_FALSE(media::CreateProgramFolders(c.paths));
}

// Runs a command and returns its standard output; status receives the exit code.
std::string RunCommand(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    int raw = ::pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return out;
}

TEST(ProgramCommandLine, HelpAndVersionPrintAndExitWithoutADisplay) {
    int status = -1;
    std::string help = RunCommand("env -u DISPLAY " ZQ_DIST_DIR "/zarquill --help", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(help.find("--scores"), std::string::npos);
    std::string version = RunCommand("env -u DISPLAY " ZQ_DIST_DIR "/zarquill --version", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(version.find("Zarquill"), std::string::npos);
    RunCommand(ZQ_DIST_DIR "/zarquill --bogus 2>/dev/null", status);
    EXPECT_EQ(status, 2);
}

TEST(ProgramCommandLine, ScoresAreFoundBesideTheExecutableFromAnotherFolder) {
    zqtest::TempDir install, elsewhere;
    zqtest::CwdGuard cwd;
    std::filesystem::create_directories(install / "Files/274");
    std::filesystem::copy_file(ZQ_DIST_DIR "/zarquill", install / "zarquill");

    // Write a score file with the program's own writer.
    std::filesystem::current_path(install / "Files/274");
    scores::ScoreList.clear();
    scores::Scores older;
    older.Score = 1200;
    older.Name = "Ada";
    older.Timestamp = 100;
    older.GameMode = 2;
    scores::Scores newer;
    newer.Score = 55;
    newer.Name = "Bo \"B\"";
    newer.Timestamp = 200;
    newer.Quit = 1;
    scores::ScoreList.push_back(older);
    scores::ScoreList.push_back(newer);
    ASSERT_TRUE(scores::SaveScores());
    scores::ScoreList.clear();

    int status = -1;
    std::string out = RunCommand(
        "cd " + elsewhere.path() + " && " + install.path() + "/zarquill --scores", status);
    EXPECT_EQ(status, 0);
    size_t first = out.find("\"score\":55");
    size_t second = out.find("\"score\":1200");
    ASSERT_NE(first, std::string::npos) << out;
    ASSERT_NE(second, std::string::npos) << out;
    EXPECT_LT(first, second);  // newest first
    EXPECT_NE(out.find("\"mode\":2"), std::string::npos);
    EXPECT_NE(out.find("\\\"B\\\""), std::string::npos);  // quotes escaped

    // A folder without a score file prints nothing.
    std::filesystem::remove(install / "Files/274/nuscores.dat");
    out = RunCommand("cd " + elsewhere.path() + " && " + install.path() + "/zarquill --scores",
                     status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, "");
}

}  // namespace
