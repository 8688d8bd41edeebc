// The browser viewer's WebAssembly program: it takes the game's data pack and
// the page's decoded images, then plays one replay at a time step by step with
// the game's own rules and drawing into the page's canvas (viewer.js drives it
// through the C functions below). The game files of the pack live in the
// program's in-memory file system under /Files, as in the desktop game's folder.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/draw_helpers.h"
#include "engine/graphics_setup.h"
#include "engine/media/audio.h"
#include "engine/media/browser/browser.h"
#include "engine/media/browser/decoded_images.h"
#include "engine/media/folders.h"
#include "engine/media/graphics.h"
#include "engine/setup_table.h"
#include "game/game_loop.h"
#include "game/game_math.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "viewer/pack_files.h"
#include "viewer/viewer_setup.h"

namespace {

// The most steps one zq_viewer_advance plays (a minute of play), so that no call holds the page.
constexpr int kMaxAdvanceSteps = 3600;
// The largest canvas side: a larger logical screen is drawn scaled down into it.
constexpr int kMaxCanvasSide = 2048;

// What zq_viewer_state answers.
enum State { kNone = 0, kPlaying = 1, kFinished = 2, kDesync = 3 };
// What zq_viewer_open answers.
enum OpenResult { kOpened = 0, kOlderRules = 1, kUnreadable = 2 };

struct Viewer {
    bool ready = false;
    std::unique_ptr<game::Replay> replay;
    std::unique_ptr<game::ReplayPlayback> playback;
    State state = kNone;
    std::string message;
    int canvasWidth = 0, canvasHeight = 0;  // the canvas as last opened
};

Viewer& V() {
    static Viewer viewer;
    return viewer;
}

}  // namespace

extern "C" {

// Keeps an image the page decoded from the pack entry `name` (w × h RGBA); 1 when kept.
EMSCRIPTEN_KEEPALIVE int zq_viewer_add_image(const char* name, int w, int h, const uint8_t* rgba) {
    return media::AddDecodedImage(viewer::kPackFilesRoot + std::string(name), w, h, rgba) ? 1 : 0;
}

// Reads the data pack, opens the canvas and loads the game's assets; 1 on success, else 0 with
// the reason in zq_viewer_message.
EMSCRIPTEN_KEEPALIVE int zq_viewer_init(const char* pack, int size) {
    Viewer& v = V();
    if (v.ready) return 1;
    if (size < 0 ||
        !viewer::InstallPackFiles(std::string_view(pack, static_cast<size_t>(size)), v.message)) {
        return 0;
    }
    media::InstallBrowserMedia();
    media::SetAudioDriver("Null");
    engine::SetupDefaults();
    engine::ResetDrawHelpers();
    media::SetGraphicsDriver(media::DefaultGraphicsDriver());
    if (!media::OpenGraphics(viewer::kViewerScreenWidth, viewer::kViewerScreenHeight)) {
        v.message = "This browser cannot draw with WebGL";
        return 0;
    }
    v.canvasWidth = viewer::kViewerScreenWidth;
    v.canvasHeight = viewer::kViewerScreenHeight;
    media::ChangeDir(viewer::kPackGameFolder);
    viewer::LoadViewerAssets();
    // Every image holds its own pixels now: the page's copies are not needed again.
    media::ClearDecodedImages();
    v.ready = true;
    return 1;
}

// Loads a replay (the bytes of a .zqr) and sets its game up; answers kOpened, kOlderRules or
// kUnreadable (the reason in zq_viewer_message).
EMSCRIPTEN_KEEPALIVE int zq_viewer_open(const char* bytes, int size) {
    Viewer& v = V();
    v.playback.reset();
    v.state = kNone;
    v.message.clear();
    if (!v.ready) {
        v.message = "The viewer is not set up";
        return kUnreadable;
    }
    auto replay = std::make_unique<game::Replay>();
    std::string error;
    if (size < 0 || !game::DecodeReplay(std::string_view(bytes, static_cast<size_t>(size)),
                                        *replay, error)) {
        v.message = "This replay cannot be read: " + error;
        return kUnreadable;
    }
    const game::ReplayHeader& h = replay->header;
    if (h.rules < game::kOldestPortableRules) {
        v.message = "This run was played under rules version " + std::to_string(h.rules) +
                    ", which plays the same only in the game itself: watch it with zarquill "
                    "--replay";
        return kOlderRules;
    }
    // The canvas takes the replay's logical size (at most kMaxCanvasSide a side, the logical
    // screen scaled into it); the page scales the canvas.
    const int side = std::max(h.width, h.height);
    const double scale = side > kMaxCanvasSide ? static_cast<double>(kMaxCanvasSide) / side : 1.0;
    const int canvasWidth = std::max(1, static_cast<int>(h.width * scale));
    const int canvasHeight = std::max(1, static_cast<int>(h.height * scale));
    if (!media::GraphicsOpen() || canvasWidth != v.canvasWidth ||
        canvasHeight != v.canvasHeight) {
        if (!media::OpenGraphics(canvasWidth, canvasHeight)) {
            v.message = "This browser cannot draw with WebGL";
            return kUnreadable;
        }
        v.canvasWidth = canvasWidth;
        v.canvasHeight = canvasHeight;
    }
    auto playback = std::make_unique<game::ReplayPlayback>();
    v.replay = std::move(replay);
    if (!playback->Start(*v.replay)) {
        v.message = "This replay cannot be played here (its counts disagree or its rules version " +
                    std::to_string(h.rules) + " is newer than this viewer)";
        return kUnreadable;
    }
    v.playback = std::move(playback);
    v.state = kPlaying;
    media::SetClsColor(0, 0, 0);
    media::Cls();
    return kOpened;
}

// Plays up to n (at most kMaxAdvanceSteps) more steps, drawing only the last one, and presents
// it; returns the state.
EMSCRIPTEN_KEEPALIVE int zq_viewer_advance(int n) {
    Viewer& v = V();
    n = std::min(n, kMaxAdvanceSteps);
    if (v.state != kPlaying || !v.playback) return v.state;
    for (int k = 0; k < n && v.state == kPlaying; ++k) {
        // Steps that will not be seen draw nothing (as when the board verifies a run): in a
        // browser without a graphics processor each draw call costs more than a game step.
        engine::DrawingOff = k + 1 < n;
        if (!v.playback->Step()) v.state = kFinished;
        if (v.playback->FirstBadStep() >= 0) v.state = kDesync;
    }
    engine::DrawingOff = false;
    media::Flip(0);
    engine::ResetDrawState();
    return v.state;
}

// Returns the steps played so far.
EMSCRIPTEN_KEEPALIVE int zq_viewer_step() {
    return V().playback ? static_cast<int>(V().playback->StepsDone()) : 0;
}

// Returns the replay's number of steps.
EMSCRIPTEN_KEEPALIVE int zq_viewer_steps() {
    return V().replay ? static_cast<int>(V().replay->header.frames) : 0;
}

// Returns the replay's logical width and height.
EMSCRIPTEN_KEEPALIVE int zq_viewer_width() {
    return V().replay ? static_cast<int>(V().replay->header.width) : 0;
}
EMSCRIPTEN_KEEPALIVE int zq_viewer_height() {
    return V().replay ? static_cast<int>(V().replay->header.height) : 0;
}

// Returns the game's score now.
EMSCRIPTEN_KEEPALIVE double zq_viewer_score() {
    return V().playback ? static_cast<double>(game::GameScore) : 0.0;
}

// Returns the state: 0 nothing loaded, 1 playing, 2 finished, 3 stopped at a differing check value.
EMSCRIPTEN_KEEPALIVE int zq_viewer_state() {
    return V().state;
}

// Returns the first step whose check value differed, or -1.
EMSCRIPTEN_KEEPALIVE double zq_viewer_desync_step() {
    return V().playback ? static_cast<double>(V().playback->FirstBadStep()) : -1.0;
}

// Returns the reason of the last failure ("" when none).
EMSCRIPTEN_KEEPALIVE const char* zq_viewer_message() {
    return V().message.c_str();
}

// Switches sound on (the page made Module.zqAudioContext) or off; returns 1 when sound is on.
EMSCRIPTEN_KEEPALIVE int zq_viewer_set_sound(int on) {
    if (on && media::SetAudioDriver("WebAudio") == 1) return 1;
    media::SetAudioDriver("Null");
    return 0;
}

}  // extern "C"

// The page calls the functions above; nothing runs at load.
int main() {
    return 0;
}
