// Draws one step of a replay on the browser viewer's set-up with the desktop's
// OpenGL driver, for the board's browser test to set beside what WebGL drew:
// a window of the canvas's size, the game's files from the runnable folder,
// only the last step drawn (as the viewer does when it plays many steps in
// one call). Writes RGBA rows from the bottom up, as WebGL reads them back.
// Usage: zq_viewer_picture REPLAY STEP WIDTH HEIGHT OUT
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "engine/draw_helpers.h"
#include "engine/media/audio.h"
#include "engine/media/desktop/desktop.h"
#include "engine/media/desktop/gl_driver.h"
#include "engine/media/graphics.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "viewer/viewer_setup.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: zq_viewer_picture REPLAY STEP WIDTH HEIGHT OUT\n");
        return 2;
    }
    const int step = std::atoi(argv[2]), width = std::atoi(argv[3]), height = std::atoi(argv[4]);
    game::Replay replay;
    std::string error;
    if (!game::ReadReplayFile(argv[1], replay, error)) {
        std::fprintf(stderr, "zq_viewer_picture: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    media::InstallDesktopMedia();
    media::SetAudioDriver("Null");
    media::SetGraphicsDriver(media::GLDraw2DDriver(), 2);
    if (width < 1 || height < 1 || !media::OpenGraphics(width, height, 0, 0, 0)) {
        std::fprintf(stderr, "zq_viewer_picture: no %dx%d window\n", width, height);
        return 1;
    }
    if (!viewer::LoadViewerGame(std::string(ZQ_DIST_DIR) + "/Files")) {
        std::fprintf(stderr, "zq_viewer_picture: no game folder in %s\n", ZQ_DIST_DIR);
        return 1;
    }
    game::ReplayPlayback playback;
    if (!playback.Start(replay)) {
        std::fprintf(stderr, "zq_viewer_picture: %s cannot be played\n", argv[1]);
        return 1;
    }
    media::SetClsColor(0, 0, 0);
    media::Cls();
    for (int k = 0; k < step; ++k) {
        engine::DrawingOff = k + 1 < step;
        playback.Step();
    }
    engine::DrawingOff = false;
    const std::shared_ptr<media::TPixmap> pm = media::GrabPixmap(0, 0, width, height);
    if (!pm) return 1;
    std::string pixels;
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pm->ReadPixel(x, y);
            pixels += {static_cast<char>(p >> 16), static_cast<char>(p >> 8),
                       static_cast<char>(p), static_cast<char>(0xff)};
        }
    }
    media::CloseGraphics();
    std::ofstream out(argv[5], std::ios::binary);
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return out.good() ? 0 : 1;
}
