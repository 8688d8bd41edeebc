// A scripted player for recorded games: the pointer sweeps the screen in two
// triangle waves, the right button fires in bursts and the left one holds the
// ship now and then. Shared by the replay tests (which make and check the
// golden replays with it) and the replay benchmark.
#pragma once

#include "game/replay.h"
#include "scores/fields/date_time.h"
#include "tests/game/headless_game.h"

namespace game_test {

// Options of a scripted game.
struct Script {
    int difficulty = 0;
    int maxSteps = 0;        // the player quits after this many steps (0: play to the end)
    bool keepAlive = false;  // lives topped up before every step (benchmarks only)
    int resizeAt = 0;        // at this step the logical screen becomes 1600x900 (0: never)
};

// Returns v folded into 0..n-1..0 (a triangle wave of period 2n).
inline int Triangle(int v, int n) {
    const int m = v % (2 * n);
    return m < n ? m : 2 * n - 1 - m;
}

// Plays a game with the real recorder on the headless set-up and returns its recording.
inline game::Replay PlayScriptedGame(Headless& h, const Script& s) {
    game::Difficulty = s.difficulty;
    game::GameSetup();
    game::StartRecording();
    for (int f = 1; game::EndCode == game::END_RUNNING; ++f) {
        h.driver->Clear();
        if (s.keepAlive) game::Lives = 5;
        if (f == s.resizeAt) {
            engine::VirtualWidth = 1600;
            engine::VirtualHeight = 900;
        }
        h.right = f % 180 > 30;
        h.left = f % 500 > 440;
        SetPointer(120 + Triangle(f * 5, engine::VirtualWidth - 240),
                   90 + Triangle(f * 3, engine::VirtualHeight - 180));
        game::GameStep();
        // Quitting as the pause menu does: the frame end reports 99 after the step.
        game::GameFrameDone(f == s.maxSteps ? game::END_QUIT : 0);
        engine::FrameParity = 1 - engine::FrameParity;
    }
    game::FinishRecording();
    game::Replay replay = game::LastRecording();
    replay.header.name = "Scripted";
    replay.header.timestamp = scores::DateTimeNumber(2026, 12, 8, 7, 35, 59);
    return replay;
}

}  // namespace game_test
