// The browser game's WebAssembly program: the whole game (title, game, pause
// menu, settings and high-score panels, name entry) run by the browser's
// executor, one displayed frame per call of zq_play_frame from the page's
// requestAnimationFrame (play.js). The game's data comes from the data pack
// the viewer shares; the player's files (settings, score file, replays) live
// in /player, which the page keeps in IndexedDB.
#include <emscripten/emscripten.h>

#include <memory>
#include <string>
#include <vector>

#include "app/closing_screen.h"
#include "app/name_entry.h"
#include "app/startup.h"
#include "engine/controls.h"
#include "engine/frame_end.h"
#include "engine/game_state.h"
#include "engine/hooks.h"
#include "engine/identity.h"
#include "engine/media/audio.h"
#include "engine/media/browser/browser.h"
#include "engine/media/browser/decoded_images.h"
#include "engine/media/browser/input.h"
#include "engine/media/durable_file.h"
#include "engine/media/file_mirror.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/media/joystick.h"
#include "engine/media/paths.h"
#include "engine/screen_loop.h"
#include "engine/screen_stack.h"
#include "engine/settings_panel.h"
#include "engine/setup_table.h"
#include "scores/scores.h"
#include "share/board_share.h"
#include "viewer/pack_files.h"
#include "viewer/viewer_setup.h"

namespace {

// The player's folder: the page names the same one (Module.zqFilesFolder) to keep it.
constexpr const char* kPlayerFolder = "/player/";
// The log lives in memory only: every line also goes to the browser's console.
constexpr const char* kLogFile = "/tmp/Debug.txt";
// Steps that draw nothing (the loading screen's wait) one display frame may run.
constexpr int kMaxStepsPerDisplay = 8;

// What zq_play_state answers.
enum State { kNotStarted = 0, kRunning = 1, kEnded = 2, kFailed = 3 };

struct Play {
    State state = kNotStarted;
    std::string message;
    std::string origin;  // the page's origin: the board runs are sent to
    int joysticks = 0;   // the gamepads seen when last asked
    int sharing = -1;    // the answer about sending runs: -1 not asked, 0 "Not now", 1 send
};

Play& P() {
    static Play play;
    return play;
}

// Fixes the program's paths: the pack's data below /Files, the player's files in /player.
void SetBrowserPaths() {
    media::TProgramPaths p;
    p.filesDir = viewer::kPackFilesRoot;
    p.gameDir = std::string(viewer::kPackGameFolder) + "/";
    p.setupFile = std::string(kPlayerFolder) + "Setup.ini";
    p.scoreFile = std::string(kPlayerFolder) + "nuscores.dat";
    p.crashMarker = std::string(kPlayerFolder) + "crash.dat";
    p.screenshotDir = std::string(kPlayerFolder) + "Screenshots/";
    p.logFile = kLogFile;
    media::SetProgramPaths(p);
    media::MakeFolders(kPlayerFolder);
}

// The start-up steps of the desktop's program, with the browser's screen:
// the glyphs of the data pack are baked for the viewer's display size, so the
// game always opens that size in a window (the page scales the canvas).
app::StartupStages BrowserStages() {
    app::StartupStages stages = app::ProgramStages();
    auto applyGraphics = stages.applyGraphics;
    stages.applyGraphics = [applyGraphics] {
        engine::Setup[engine::SETUP_WIDTH] = viewer::kViewerScreenWidth;
        engine::Setup[engine::SETUP_HEIGHT] = viewer::kViewerScreenHeight;
        engine::Setup[engine::SETUP_FULLSCREEN] = 0;
        if (applyGraphics) applyGraphics();
    };
    return stages;
}

// Asks the page for full screen (the click that chose it lets the browser grant it).
EM_JS(void, zq_page_full_screen, (), {
    var area = Module['canvas'] && Module['canvas'].parentElement;
    if (document.fullscreenElement) {
        document.exitFullscreen().catch(function () {});
    } else if (area && area.requestFullscreen) {
        area.requestFullscreen().catch(function () {});
    }
});

// Writes Board.ini: naming the board (the player said "Send my runs to this
// board") or naming none ("Not now"), so that the question is asked once.
bool WriteBoardChoice(const std::string& server) {
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(scores::BoardIniPath());
    if (!out) return false;
    const bool ok =
        server.empty()
            ? out->WriteLine("; The player chose \"Not now\": runs stay in this browser.")
            : out->WriteLine("; The player chose \"Send my runs to this board\".") &&
                  out->WriteLine("Server = " + server);
    return out->Close() && ok;
}

// Keeps the player's answer about sending runs (see zq_play_set_sharing); false when the
// answer could not be written.
bool SetSharing(bool on) {
    if (!WriteBoardChoice(on ? P().origin : "")) return false;
    P().sharing = on ? 1 : 0;
    scores::StopBoardSharing();
    scores::ResetBoardSharing();
    scores::StartBoardSharing();
    if (on) {
        for (const scores::Scores& record : scores::ScoreList) {
            if (scores::CanShareRun(record)) scores::ShareStoredRun(record);
        }
    }
    return true;
}

// The browser's lines in the settings panel: full screen, sending runs, and why no gamepad shows.
std::vector<engine::PanelLine> BrowserPanelLines() {
    std::vector<engine::PanelLine> lines;
    lines.push_back({"Full screen (or the page's button)", [] { zq_page_full_screen(); }});
    const bool sending = P().sharing == 1;
    lines.push_back({sending ? "Runs sent to this board: yes" : "Runs sent to this board: no",
                     [sending] { SetSharing(!sending); }});
    const std::string note = media::GamepadNote();
    if (!note.empty()) lines.push_back({note, nullptr});
    return lines;
}

}  // namespace

extern "C" {

// Keeps an image the page decoded from the pack entry `name` (w × h RGBA); 1 when kept.
EMSCRIPTEN_KEEPALIVE int zq_play_add_image(const char* name, int w, int h, const uint8_t* rgba) {
    return media::AddDecodedImage(viewer::kPackFilesRoot + std::string(name), w, h, rgba) ? 1 : 0;
}

// Reads the data pack and starts the game up to its loading screen; 1 on success, else 0
// with the reason in zq_play_message. The page then calls zq_play_frame once a display frame.
EMSCRIPTEN_KEEPALIVE int zq_play_start(const char* pack, int size, const char* origin) {
    Play& play = P();
    if (play.state != kNotStarted) return play.state == kRunning ? 1 : 0;
    play.state = kFailed;
    play.origin = origin ? origin : "";
    if (size < 0 || !viewer::InstallPackFiles(std::string_view(pack, static_cast<size_t>(size)),
                                              play.message)) {
        return 0;
    }
    media::InstallBrowserMedia();
    media::InstallBrowserInput();
    media::SetAppTitle(engine::GameTitle());
    SetBrowserPaths();
    app::InstallHooks();
    engine::SetPlatformLines(BrowserPanelLines);
    engine::Hooks().displayLost = [] {
        P().message = "This browser cannot draw with WebGL";
        engine::Screens().Quit(1);
    };
    // OpenAL is the desktop's: the browser offers Web Audio (silent until the page's first
    // gesture lets its audio context run) and the silent driver.
    app::BeginStartup(app::MediaAudioBackend(nullptr), BrowserStages());
    if (!P().message.empty()) return 0;
    // The answer kept from an earlier visit (Board.ini); it changes only through SetSharing.
    if (media::FileType(scores::BoardIniPath()) == 1) {
        play.sharing = scores::NamedBoard().empty() ? 0 : 1;
    }
    play.state = kRunning;
    return 1;
}

// Steps the game for one displayed frame; answers zq_play_state.
EMSCRIPTEN_KEEPALIVE int zq_play_frame() {
    Play& play = P();
    if (play.state != kRunning) return play.state;
    // In a game the mouse and a finger steer by their movement; in the menus they point.
    const bool inGame = engine::InGame == 1;  // 2: its pause menu, which points
    media::SetPointerLockWanted(inGame);
    media::SetTouchRelative(inGame);
    media::ShowOnScreenKeyboard(app::NameEntryOpen());
    // Escape ends a pointer lock in the browser and may never reach the page: the game pauses.
    if (media::PointerLockLost()) engine::RequestPause();
    // A gamepad shows once its first button is pressed, before or during a game.
    if (media::JoyCount() != play.joysticks) {
        play.joysticks = media::JoyCount();
        engine::DiscoverJoysticks();
    }
    if (!engine::StepScreensForDisplay(engine::Screens(), kMaxStepsPerDisplay)) {
        app::FinishProgram();
        play.state = engine::Screens().ExitResult() == 0 && play.message.empty() ? kEnded : kFailed;
    }
    return play.state;
}

// Returns 0 before the start, 1 while the game runs, 2 once the player quit, 3 after a failure.
EMSCRIPTEN_KEEPALIVE int zq_play_state() {
    return P().state;
}

// Returns the reason of a failure ("" when none).
EMSCRIPTEN_KEEPALIVE const char* zq_play_message() {
    return P().message.c_str();
}

// Returns why the player's files cannot be kept in the browser ("" while they are).
EMSCRIPTEN_KEEPALIVE const char* zq_play_storage_problem() {
    static std::string problem;
    problem = media::StorageProblem();
    return problem.c_str();
}

// Returns where the player is: 0 the menus, 1 a game, 2 its pause menu, 3 name entry.
EMSCRIPTEN_KEEPALIVE int zq_play_place() {
    if (app::NameEntryOpen()) return 3;
    return engine::InGame == 1 || engine::InGame == 2 ? engine::InGame : 0;
}

// Returns the frame rate the frame end measured.
EMSCRIPTEN_KEEPALIVE int zq_play_frame_rate() {
    return engine::CurrentFps;
}


// Stores the run waiting for its name under the name typed so far, as the desktop does when it
// is closed during name entry: the page calls this when it is left (a closed tab).
EMSCRIPTEN_KEEPALIVE void zq_play_page_left() {
    if (P().state == kRunning) scores::StorePendingRun();
}

// Shows or hides the debug overlay (F12 on the desktop, which browsers keep for themselves).
EMSCRIPTEN_KEEPALIVE void zq_play_toggle_overlay() {
    engine::OverlayOn = 1 - engine::OverlayOn;
}

// Returns how many runs the score file holds (the page asks about sharing after the first).
EMSCRIPTEN_KEEPALIVE int zq_play_runs() {
    return static_cast<int>(scores::ScoreList.size());
}

// Returns -1 while the player was not asked about sending runs, 0 for "Not now", 1 when runs go
// to the board.
EMSCRIPTEN_KEEPALIVE int zq_play_sharing() {
    return P().sharing;
}

// Keeps the player's answer: runs go to this page's board (the only one the browser's requests
// may reach) when on, else none; when on, the runs not yet sent are queued and sent. Returns 1
// when the answer was kept.
EMSCRIPTEN_KEEPALIVE int zq_play_set_sharing(int on) {
    return SetSharing(on != 0) ? 1 : 0;
}

}  // extern "C"

// The page starts the game (zq_play_start) once the pack is loaded; nothing runs at load.
int main() {
    return 0;
}
