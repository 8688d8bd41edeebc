// A program built from the game's rules and the media layer's headless core
// alone: it re-simulates the replays named on its command line on the
// headless set-up --verify-replay uses, and fails when one does not match, when a desktop
// driver turns up, or when it is given nothing. The "no desktop libraries"
// check runs ldd on this program.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/media/audio.h"
#include "engine/media/graphics.h"
#include "engine/media/joystick.h"
#include "engine/media/recording_driver.h"
#include "game/replay.h"
#include "game/replay_verify.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zq_headless_check REPLAY...\n");
        return 2;
    }
    // Without the desktop part only the headless defaults are there.
    if (media::AudioDrivers() != std::vector<std::string>{"Null"} || media::JoyCount() != 0 ||
        !std::dynamic_pointer_cast<media::TRecordingDriver>(media::DefaultGraphicsDriver())) {
        std::fprintf(stderr, "zq_headless_check: a desktop driver is installed\n");
        return 1;
    }
    game::InstallHeadlessSimulation();
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        game::Replay replay;
        std::string error;
        if (!game::ReadReplayFile(argv[i], replay, error)) {
            std::printf("%s: unreadable: %s\n", argv[i], error.c_str());
            status = 1;
            continue;
        }
        const game::ReplayVerdict v = game::VerifyReplay(replay);
        std::printf("%s: %u frames, recorded %lld, simulated %lld, %s\n", argv[i], v.frames,
                    static_cast<long long>(v.recordedScore),
                    static_cast<long long>(v.simulatedScore), v.ok ? "ok" : v.reason.c_str());
        if (!v.ok) status = 1;
    }
    game::UninstallHeadlessSimulation();
    return status;
}
