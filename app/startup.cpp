// Start-up spine: the fixed order from process start to the front end, and
// the command line (--help, --version, --scores).
#include "app/startup.h"

#include <cstdio>
#include <cstring>

#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

#include "app/audio_choice.h"
#include "app/closing_screen.h"
#include "app/name_entry.h"
#include "app/replay_cli.h"
#include "app/score_panel.h"
#include "app/settings_file.h"
#include "app/share_cli.h"
#include "app/title_screen.h"
#include "engine/controls.h"
#include "engine/draw_helpers.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/graphics_setup.h"
#include "engine/hooks.h"
#include "engine/identity.h"
#include "engine/log.h"
#include "engine/media/audio.h"
#include "engine/media/clock.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/media/installed_layout.h"
#include "engine/media/paths.h"
#include "engine/media/temp_files.h"
#include "engine/media/terminate.h"
#include "engine/media/text.h"
#include "engine/screen_loop.h"
#include "engine/settings_panel.h"
#include "engine/setup_table.h"
#include "game/game_assets.h"
#include "game/game_loop.h"
#include "scores/replay_store.h"
#include "scores/score_file.h"
#include "scores/scores.h"
#include "share/board_share.h"

namespace app {

namespace {

// What an option's handler returns when the game should start after the options.
constexpr int kStartGame = -1;
// The column an option's description starts in, in --help.
constexpr size_t kHelpColumn = 15;

// One option of the command line: its names, what follows it, its description
// in --help (lines split by "\n") and what it does (advancing i past its own
// arguments; returns an exit status, or kStartGame).
struct CommandOption {
    const char* name;
    const char* alias;  // nullptr for none
    const char* arguments;
    const char* help;
    int (*run)(int argc, char** argv, int& i);
};

void PrintHelp();
int PrintScores();
int RunShareOption(int argc, char** argv, int& i);

// Every option the program takes, in the order --help lists them.
const CommandOption kOptions[] = {
    {"--help", "-h", "", "show this help and exit",
     [](int, char**, int&) {
         PrintHelp();
         return 0;
     }},
    {"--version", nullptr, "", "show the version and exit",
     [](int, char**, int&) {
         std::printf("Zarquill %s (%s)\n", engine::GameVersion,
                     media::ToUtf8(engine::GameTitle()).c_str());
         return 0;
     }},
    {"--scores", nullptr, "",
     "print every run in the score file as one JSON object per line,\n"
     "newest first, and exit",
     [](int, char**, int&) { return PrintScores(); }},
    {"--replay", nullptr, "FILE", "start the game and play the replay FILE at once",
     [](int argc, char** argv, int& i) {
         const int status = ReplayOption(argc, argv, i);
         return status == kStartWithReplay ? kStartGame : status;
     }},
    {"--verify-replay", nullptr, "FILE...",
     "re-simulate replays without a display, print one JSON line\n"
     "per file, and exit (0 all match, 1 one differs, 2 unreadable)",
     VerifyReplayOption},
    {"--share", nullptr, "[FILE...] [--board URL]",
     "send replays (or, with none, the runs waiting in the queue) to\n"
     "the board named on the line or in Board.ini, print one JSON\n"
     "line per run, and exit (0 all accepted, 1 one rejected,\n"
     "2 one not sent or unreadable: it stays queued)",
     RunShareOption},
};

// Returns the option a command-line word names, or nullptr.
const CommandOption* FindOption(const char* word) {
    for (const CommandOption& option : kOptions) {
        if (std::strcmp(word, option.name) == 0) return &option;
        if (option.alias && std::strcmp(word, option.alias) == 0) return &option;
    }
    return nullptr;
}

// Returns the usage text --help opens with, made from the table of options.
std::string UsageText() {
    std::string text =
        "Usage: zarquill [option]\n"
        "A side-scrolling shoot-'em-up: steer with the mouse, hold a button to fire.\n"
        "\n"
        "Options:\n";
    const std::string indent(kHelpColumn, ' ');
    for (const CommandOption& option : kOptions) {
        std::string head = std::string("  ") + option.name;
        if (*option.arguments) head += std::string(" ") + option.arguments;
        // A short option shares its first line with its description.
        text += head.size() < kHelpColumn - 1 ? head + std::string(kHelpColumn - head.size(), ' ')
                                              : head + "\n" + indent;
        for (const char* c = option.help; *c; ++c)
            text += *c == '\n' ? "\n" + indent : std::string(1, *c);
        text += "\n";
    }
    text += "\nWithout options the game starts.\n\n";
    return text;
}

void RunStage(const std::function<void()>& stage) {
    if (stage) stage();
}

void WriteBanner() {
    const std::string rule(28, '-');
    engine::WriteLog("Torvik's Wekkaplay Engine");
    engine::WriteLog(rule);
    engine::WriteLog("Week #" + media::Str(engine::WeekNumber));
    engine::WriteLog(rule);
    engine::WriteLog(engine::GameTitle());
    engine::WriteLog(rule);
    engine::WriteLog("");
    engine::WriteLog("Loading");
}

// State: the folder rule's problem report, logged once the log is open.
std::string g_folderProblem;

// Returns the layout in use: portable, or installed with the data at the
// place the build set, relative to the executable.
media::TLayoutChoice LayoutInUse() {
    return media::ChooseProgramPaths(
        media::SystemLayoutInputs(engine::GameFolder(), ZQ_INSTALLED_FILES_REL));
}

// Prints the usage and the folders of the layout in use.
void PrintHelp() {
    const media::TLayoutChoice layout = LayoutInUse();
    const media::TProgramPaths& p = layout.choice.paths;
    std::string text = UsageText();
    text += p.installed ? "Folders in use (installed layout, the player's files per user):\n"
                        : "Folders in use (portable layout, everything below Files/):\n";
    text += "  data         " + p.filesDir + "\n";
    text += "  settings     " + p.setupFile + "\n";
    text += "  scores       " + p.scoreFile + "\n";
    text += "  log          " + p.logFile + "\n";
    text += "  screenshots  " + p.screenshotDir + "\n";
    if (!layout.choice.problem.empty()) text += layout.choice.problem + "\n";
    std::fputs(text.c_str(), stdout);
}

// Fixes the program's paths by the folder rule and moves into the folder that
// holds "Files/". A problem is reported on standard error at once (the log is
// not open yet). With createFolders the data and game folders, or the
// installed layout's per-user folders, are made when missing (and seeded from
// a read-only portable folder), and the temporary files of killed saves are
// removed.
media::TLayoutChoice ApplyFolderRule(bool createFolders) {
    media::TLayoutChoice layout = LayoutInUse();
    const media::TPathChoice& choice = layout.choice;
    media::SetProgramPaths(choice.paths);
    g_folderProblem = choice.problem;
    if (!g_folderProblem.empty()) std::fprintf(stderr, "%s\n", g_folderProblem.c_str());
    if (createFolders) {
        media::CreateProgramFolders(choice.paths);
        media::PrepareInstalledFolders(layout);
        RemoveKilledSaves();
    }
    media::ChangeDir(choice.paths.filesDir + "..");
    return layout;
}

// Prints the score file's records as JSON lines; returns the exit status.
int PrintScores() {
    const media::TLayoutChoice layout = ApplyFolderRule(false);
    // A read-only portable folder not yet copied into the per-user folders
    // still has its runs: show those (nothing is written here).
    media::TProgramPaths paths = layout.choice.paths;
    if (media::FileType(paths.scoreFile) == 0 && !layout.seedScores.empty()) {
        paths.scoreFile = layout.seedScores;
        media::SetProgramPaths(paths);
    }
    scores::LoadScores();
    for (const scores::Scores& record : scores::ScoreList) {
        std::string line = scores::ScoreRecordJson(record) + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    std::fflush(stdout);
    return 0;
}

// Ends the program when no window could be opened: the log keeps what was
// written so far, one line on standard error says which display failed, and
// the screens are all removed so that the program returns 1 from main.
void LeaveWithoutDisplay() {
    const char* display = std::getenv("DISPLAY");
    engine::CloseLog();
    if (display && *display) {
        std::fprintf(stderr, "zarquill: cannot open a window on X display \"%s\"\n", display);
    } else {
        std::fprintf(stderr, "zarquill: cannot open a window: DISPLAY is not set\n");
    }
    engine::Screens().Quit(1);
}

// Runs "--share [FILE...] [--board URL]" at argv[i], taking every argument after it.
int RunShareOption(int argc, char** argv, int& i) {
    // Files are named from the folder the command was given in.
    const ShareOptions options = ParseShareArguments(
        std::vector<std::string>(argv + i + 1, argv + argc), media::CurrentDir());
    i = argc;
    if (!options.error.empty()) {
        std::fprintf(stderr, "zarquill: %s (try --help)\n", options.error.c_str());
        return 2;
    }
    ApplyFolderRule(true);
    return RunShareCommand(options, stdout, stderr);
}

// The end of loading: the steps after the window (and its engine test), the
// last loading line, the minimum loading time and then the front end.
class LoadingScreen : public engine::Screen {
  public:
    LoadingScreen(int startMs, StartupStages stages)
        : startMs_(startMs), stages_(std::move(stages)) {}

    engine::StepResult Step() override {
        if (!loaded_) {
            loaded_ = true;
            RunStage(stages_.afterGraphics);
            engine::WriteLog("Finished Loading");
        }
        // Short sleeps keep the processor free while the minimum runs out.
        const int elapsed = media::MillisecsBetween(startMs_, media::Millisecs());
        if (elapsed < kMinimumLoadingMs) {
            const int left = kMinimumLoadingMs - elapsed;
            return engine::Idle(left < 10 ? left : 10);
        }
        RunStage(stages_.frontEnd);
        return engine::PopScreen(0, false);
    }

  private:
    int startMs_;
    StartupStages stages_;
    bool loaded_ = false;
};

}  // namespace

void InstallHooks() {
    engine::EngineHooks& hooks = engine::Hooks();
    // The desktop's answer; the browser installs its own after these.
    hooks.saveSetup = [] { SaveSetup(); };
    hooks.closingScreen = [] { return MakeClosingScreen(); };
    hooks.loadGameAssets = [] { game::LoadGameAssets(); };
    hooks.engineTest = [](std::function<void()> done) {
        return game::MakeGameEngineTest(std::move(done));
    };
    hooks.loadScores = [] { scores::LoadScores(); };
    hooks.settingsPanel = [] { engine::SettingsPanel(); };
    hooks.displayLost = [] { LeaveWithoutDisplay(); };
    media::SetDisplayLostHandler([] { LeaveAfterLostDisplay(); });
    game::SetNameEntryScreen([] { return MakeNameEntry(); });
    InstallReplayHooks();
    InstallShareHooks();
    // The settings panel's volume sliders act at once on the music already
    // playing (the effect channels it updates itself).
    engine::SetVolumeListener([] {
        if (game::MusicChannel) {
            game::MusicChannel->SetVolume(engine::Setup[engine::SETUP_MUSIC] *
                                          engine::Setup[engine::SETUP_MASTER] / 10000.0);
        }
    });
}

StartupStages ProgramStages() {
    StartupStages stages;
    stages.createTables = [] {
        FillStoryLines();
        engine::BackdropColour = {0.2, 0.0, 1.0};
        engine::BackdropTarget = engine::BackdropColour;
        media::HideMouse();
        engine::FrameStart = media::Millisecs();
    };
    stages.discoverJoysticks = [] { engine::DiscoverJoysticks(); };
    stages.applyGraphics = [] {
        if (!engine::ApplyGraphicsSettings() && engine::Hooks().displayLost) {
            engine::Hooks().displayLost();
        }
    };
    stages.afterGraphics = [] {
        engine::PointerMode = 1;
        BadgeCount = 16;
        engine::InGame = 0;
    };
    stages.frontEnd = [] {
        // Runs still waiting from an earlier session go out in the background.
        scores::StartBoardSharing();
        // An exchange's next request starts on any screen, a game's too.
        engine::Hooks().betweenSteps = [] { scores::DriveBoardSharing(); };
        engine::Screens().PushAfterStep(MakeTitleScreen());
        PlayPendingReplay();
    };
    return stages;
}

void RemoveKilledSaves() {
    const media::TProgramPaths& paths = media::ProgramPaths();
    // A save killed part-way leaves its temporary file beside the file it
    // was replacing; the settings and score file may share a folder.
    const std::set<std::string> folders{media::FolderOf(paths.setupFile),
                                        media::FolderOf(paths.scoreFile), scores::ReplayFolder()};
    for (const std::string& folder : folders) {
        if (!folder.empty()) media::RemoveStaleTempFiles(folder);
    }
}

AudioBackend MediaAudioBackend(std::function<bool()> enableOpenAL) {
    AudioBackend audio;
    audio.drivers = [] { return media::AudioDrivers(); };
    audio.exists = [](const std::string& name) { return media::AudioDriverExists(name) != 0; };
    audio.set = [](const std::string& name) { return media::SetAudioDriver(name) != 0; };
    audio.enableOpenAL = enableOpenAL ? std::move(enableOpenAL) : [] { return false; };
    return audio;
}

void SelectAudioDriver(const AudioBackend& audio, const std::vector<std::string>& names,
                       int index) {
    // An empty list (or an index outside it) selects nothing: the audio layer
    // keeps its own silent default.
    if (index < 0 || index >= static_cast<int>(names.size())) return;
    const std::string& name = names[static_cast<size_t>(index)];
    if (!audio.exists(name)) return;
    if (!IsOpenALDriverName(name)) {
        audio.set(name);
    } else if (audio.enableOpenAL()) {
        audio.set(name);
    }
}

void BeginStartup(const AudioBackend& audio, const StartupStages& stages) {
    using engine::Setup;
    using engine::WriteLog;

    RunStage(stages.createTables);
    RunStage(stages.discoverJoysticks);
    engine::SetupDefaults();

    const media::TProgramPaths& paths = media::ProgramPaths();
    media::ChangeDir(media::ProgramPathOr(paths.filesDir, "Files/"));
    const std::string logFile = media::ProgramPathOr(paths.logFile, "Debug.txt");
    engine::OpenLog(logFile);
    if (!engine::LogIsOpen()) {
        std::fprintf(stderr, "zarquill: cannot write the log \"%s\"; carrying on without it\n",
                     logFile.c_str());
    }
    WriteBanner();
    if (!g_folderProblem.empty()) WriteLog(g_folderProblem);

    engine::AudioDriverNames = audio.drivers();
    if (engine::AudioDriverNames.size() > static_cast<size_t>(engine::kMaxAudioDrivers)) {
        engine::AudioDriverNames.resize(static_cast<size_t>(engine::kMaxAudioDrivers));
    }

    LoadSetup();

    Setup[engine::SETUP_AUDIODRIVER] = ChooseAudioDriver(
        engine::AudioDriverNames, AudioDriverChosen(), Setup[engine::SETUP_AUDIODRIVER]);
    WriteLog("Setting Audio Driver");
    SelectAudioDriver(audio, engine::AudioDriverNames, Setup[engine::SETUP_AUDIODRIVER]);
    WriteLog("Set Audio Driver");
    WriteLog("");

    WriteLog("\tRequested Resolution : " + media::Str(Setup[engine::SETUP_WIDTH]) + "x" +
             media::Str(Setup[engine::SETUP_HEIGHT]));
    WriteLog("\tSetup Loaded");
    WriteLog("");
    WriteLog("Grabbing Previous Scores");
    WriteLog("");

    media::ChangeDir(media::ProgramPathOr(paths.gameDir, engine::GameFolder().c_str()));
    // The loading screen goes first: the engine test a new window runs goes on top of it.
    engine::Screens().Push(std::make_unique<LoadingScreen>(media::Millisecs(), stages));
    RunStage(stages.applyGraphics);
}

int RunStartup(const AudioBackend& audio, const StartupStages& stages) {
    BeginStartup(audio, stages);
    return engine::RunScreens(engine::Screens());
}

int Main(int argc, char** argv, std::function<bool()> enableOpenAL) {
    for (int i = 1; i < argc; ++i) {
        const CommandOption* option = FindOption(argv[i]);
        if (!option) {
            std::fprintf(stderr, "zarquill: unknown option '%s' (try --help)\n", argv[i]);
            return 2;
        }
        const int status = option->run(argc, argv, i);
        if (status != kStartGame) return status;
    }

    // Library initialisation: OpenAL is probed now so that its drivers are in
    // the list that start-up reads.
    AudioBackend audio = MediaAudioBackend(std::move(enableOpenAL));
    audio.enableOpenAL();
    media::SetAppTitle(engine::GameTitle());
    ApplyFolderRule(true);
    InstallHooks();
    media::InstallTerminateSignals();
    const int status = RunStartup(audio, ProgramStages());
    FinishProgram();
    return status;
}

}  // namespace app
