// Benchmark of replay verification: records a heavy Hard game of 36,000
// steps (ten minutes) with the scripted player, drawing as the game does
// (lives topped up so the game never ends, in the recording and again in the
// re-simulation), then re-simulates it on the headless set-up --verify-replay
// and the leaderboard use (nothing drawn or heard) a few times and prints the
// best processor time as a multiple of real time and as seconds per
// 10-minute Hard game on one core; also prints the file sizes of that game
// and of a 10-minute game with a noisy, human-like pointer. The game is
// played under the newest rules version unless an older one is named. Not
// part of the tests.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "game/game_math.h"
#include "game/replay_verify.h"
#include "tests/game/scripted_game.h"

namespace {

constexpr int kTenMinutes = 10 * 60 * 60;
constexpr int kRuns = 5;
// The aim: at least 1,000 times real time on one core (ten minutes in 0.6 s).
constexpr double kTargetTimes = 1000;

// Returns a clock's reading in seconds; where the thread's processor clock is
// missing (WebAssembly under node, which runs one thread) it reads the monotonic one.
double Seconds(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A 10-minute game's input as a player's hand makes it: the pointer drifts
// with jitter and pauses, the buttons are held in bursts of varying length.
game::Replay HumanLikeReplay() {
    game::Replay r;
    r.header.programVersion = "bench";
    r.header.width = 1280;
    r.header.height = 960;
    std::mt19937 rng(274);
    std::normal_distribution<double> jitter(0.0, 2.5);
    std::uniform_int_distribution<int> burst(10, 120);
    double x = 640, y = 480, vx = 0, vy = 0;
    bool fire = false;
    int until = 0;
    for (int f = 0; f < kTenMinutes; ++f) {
        if (f % 90 == 0) {
            vx = jitter(rng) * 2;
            vy = jitter(rng) * 2;
        }
        if (f % 400 < 40) {  // the hand rests now and then
            vx = vy = 0;
        } else {
            x += vx + jitter(rng) * 0.5;
            y += vy + jitter(rng) * 0.5;
        }
        x = x < 0 ? 0 : x > 1279 ? 1279 : x;
        y = y < 0 ? 0 : y > 959 ? 959 : y;
        if (f >= until) {
            fire = !fire;
            until = f + burst(rng);
        }
        r.steps.push_back({static_cast<int>(x), static_cast<int>(y), false, fire, 1280, 960});
    }
    r.header.frames = kTenMinutes;
    r.checks.assign(game::ReplayCheckCount(kTenMinutes), 0x9E3779B9u);
    for (size_t i = 0; i < r.checks.size(); ++i) r.checks[i] *= static_cast<uint32_t>(i + 1);
    return r;
}

}  // namespace

// Usage: zq_replay_bench [STEPS [RUNS [RULES]]] (a shorter run suits a profiler).
int main(int argc, char** argv) {
    const int steps = argc > 1 ? std::clamp(std::atoi(argv[1]), 60, kTenMinutes) : kTenMinutes;
    const int runs = argc > 2 ? std::clamp(std::atoi(argv[2]), 1, 100) : kRuns;
    const uint32_t rules =
        argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : game::kNewestRules;
    if (!game::KnownRules(rules)) {
        std::fprintf(stderr, "zq_replay_bench: rules version %s is not known\n", argv[3]);
        return 2;
    }
    game::UseRules(rules);
    game_test::Headless h;
    game_test::InstallHeadless(h);
    const game::Replay replay =
        game_test::PlayScriptedGame(h, {.difficulty = 2, .maxSteps = steps, .keepAlive = true});
    const size_t bytes = game::EncodeReplay(replay).size();
    game_test::UninstallHeadless();

    // As VerifyReplay runs it, with the lives topped up after every step as in the recording.
    game::InstallHeadlessSimulation();
    double best = 1e9, bestWall = 0;
    game::ReplayVerdict v;
    for (int run = 0; run < runs; ++run) {
        const double wall0 = Seconds(CLOCK_MONOTONIC);
        const double cpu0 = Seconds(CLOCK_THREAD_CPUTIME_ID);
        v = game::SimulateReplay(replay, [] { game::Lives = 5; });
        const double cpu = Seconds(CLOCK_THREAD_CPUTIME_ID) - cpu0;
        const double wall = Seconds(CLOCK_MONOTONIC) - wall0;
        if (cpu < best) {
            best = cpu;
            bestWall = wall;
        }
        if (!v.ok) break;
    }
    game::UninstallHeadlessSimulation();
    const double realTime = steps / 60.0;
    const double times = realTime / best;
    double load[3] = {-1, -1, -1};
#ifndef __EMSCRIPTEN__  // WebAssembly's C library answers a made-up figure
    if (getloadavg(load, 3) < 0) load[0] = -1;
#endif

    std::printf(
        "replay verify, Hard, rules %u, %d steps (peak load: lives topped up), score %lld: %s\n",
        rules, steps, static_cast<long long>(v.simulatedScore), v.ok ? "ok" : v.reason.c_str());
    std::printf("  best of %d: %.3f s processor (%.3f s wall), load average %s\n", runs, best,
                bestWall, load[0] < 0 ? "unknown" : std::to_string(load[0]).substr(0, 4).c_str());
    std::printf("  %.0f times real time on one core; %.3f s per 10-minute Hard game\n", times,
                best * kTenMinutes / steps);
    std::printf("  target: %.0f times real time: %s\n", kTargetTimes,
                times >= kTargetTimes ? "met" : "NOT met");
    std::printf(
        "  file size: scripted Hard game of %d steps %zu bytes; 10-minute human-like input %zu "
        "bytes\n",
        steps, bytes, game::EncodeReplay(HumanLikeReplay()).size());
    std::fflush(stdout);
    return v.ok ? 0 : 1;
}
