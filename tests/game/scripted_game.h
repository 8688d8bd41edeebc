// A scripted player for recorded games: the pointer sweeps the screen in two
// triangle waves, the right button fires in bursts and the left one holds the
// ship now and then. Shared by the replay tests (which make and check the
// golden replays with it) and the replay benchmark.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

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

// Plays one step of the game as its frame loop does, with the input already set, and ends the
// frame with frameEnd (0, or game::END_QUIT for a player quitting).
inline void PlayStep(Headless& h, int frameEnd) {
    h.driver->Clear();
    game::GameStep();
    game::GameFrameDone(frameEnd);
    engine::FrameParity = 1 - engine::FrameParity;
}

// Plays a game with the real recorder on the headless set-up: before each
// step f (from 1), input(f) sets the pointer and h's buttons; the player quits
// after maxSteps steps (0: plays to the end). Returns the recording.
template <typename Input>
game::Replay PlayRecordedGame(Headless& h, int difficulty, int maxSteps, bool keepAlive,
                              Input input) {
    game::Difficulty = difficulty;
    game::GameSetup();
    game::StartRecording();
    for (int f = 1; game::EndCode == game::END_RUNNING; ++f) {
        if (keepAlive) game::Lives = 5;
        input(f);
        // Quitting as the pause menu does: the frame end reports 99 after the step.
        PlayStep(h, f == maxSteps ? game::END_QUIT : 0);
    }
    game::FinishRecording();
    game::Replay replay = game::LastRecording();
    replay.header.name = "Scripted";
    replay.header.timestamp = scores::DateTimeNumber(2026, 12, 8, 7, 35, 59);
    return replay;
}

// Plays a scripted game with the real recorder on the headless set-up and returns its recording.
inline game::Replay PlayScriptedGame(Headless& h, const Script& s) {
    return PlayRecordedGame(h, s.difficulty, s.maxSteps, s.keepAlive, [&h, &s](int f) {
        if (f == s.resizeAt) {
            engine::VirtualWidth = 1600;
            engine::VirtualHeight = 900;
        }
        h.right = f % 180 > 30;
        h.left = f % 500 > 440;
        SetPointer(120 + Triangle(f * 5, engine::VirtualWidth - 240),
                   90 + Triangle(f * 3, engine::VirtualHeight - 180));
    });
}

// Returns where the ship should flee to when an enemy or an enemy shot will
// come close within the next second and a half (as a player watching the
// screen would): of nine places around the ship, the one that stays farthest
// from everything coming; nullopt when nothing threatens it.
inline std::optional<std::pair<int, int>> EscapeFromThreats() {
    struct Mover {
        double x, y, gx, gy;
    };
    std::vector<Mover> threats;
    for (const game::Shot& s : game::ShotList) {
        if (s.t == 0) threats.push_back({s.x + 32, s.y + 32, s.gx, s.gy});
    }
    for (const game::Enemy& e : game::EnemyList) threats.push_back({e.x + 32, e.y + 32, e.gx, e.gy});
    const double cx = game::ShipX + 16, cy = game::ShipY + 16;
    // The nearest any threat comes to the ship over the next 90 steps while it
    // glides from where it is to a point (reaching it in about 20 steps).
    const auto clearance = [&threats, cx, cy](double px, double py) {
        double nearest = 1e9;
        for (const Mover& m : threats) {
            for (int t = 0; t < 90; t += 3) {
                const double f = std::min(1.0, t / 20.0);
                const double sx = cx + (px - cx) * f, sy = cy + (py - cy) * f;
                nearest = std::min(nearest, std::max(std::fabs(sx - (m.x + m.gx * t)),
                                                     std::fabs(sy - (m.y + m.gy * t))));
            }
        }
        return nearest;
    };
    if (clearance(cx, cy) >= 150) return std::nullopt;
    const int w = engine::VirtualWidth, h = engine::VirtualHeight;
    std::pair<int, int> best{static_cast<int>(cx), static_cast<int>(cy)};
    double bestClearance = -1;
    for (int dx = -2; dx <= 2; ++dx) {
        for (int dy = -2; dy <= 2; ++dy) {
            const int px = std::clamp(static_cast<int>(cx) + dx * 120, 60, w - 60);
            const int py = std::clamp(static_cast<int>(cy) + dy * 120, 60, h - 60);
            const double c = clearance(px, py);
            if (c > bestClearance) {
                bestClearance = c;
                best = {px, py};
            }
        }
    }
    return best;
}

// Plays a game with random input from a seed, as a restless player would: the
// pointer glides towards a target picked anew now and then and away from what
// comes at the ship, fire comes in bursts of random length, the ship is held
// now and then. Returns its recording.
inline game::Replay PlayRandomGame(Headless& h, int difficulty, uint32_t seed, int maxSteps) {
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    const auto next = [&state](int n) {  // 0..n-1 from a 64-bit linear congruential stream
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<int>((state >> 33) % static_cast<uint64_t>(n));
    };
    int x = engine::VirtualWidth / 2, y = engine::VirtualHeight / 2, tx = x, ty = y, speed = 4;
    int fireLeft = 0, holdLeft = 0;
    return PlayRecordedGame(h, difficulty, maxSteps, false, [&](int) {
        if (const auto escape = EscapeFromThreats()) {
            std::tie(tx, ty) = *escape;
            speed = 40;
            holdLeft = 0;
        } else if (next(40) == 0) {
            tx = next(engine::VirtualWidth);
            ty = next(engine::VirtualHeight);
            speed = 1 + next(12);
        }
        x += std::clamp(tx - x, -speed, speed);
        y += std::clamp(ty - y, -speed, speed);
        if (fireLeft > 0) {
            --fireLeft;
        } else if (next(30) == 0) {
            fireLeft = next(240);
        }
        if (holdLeft > 0) {
            --holdLeft;
        } else if (next(400) == 0) {
            holdLeft = next(90);
        }
        h.right = fireLeft > 0;
        h.left = holdLeft > 0;
        SetPointer(x, y);
    });
}

}  // namespace game_test
