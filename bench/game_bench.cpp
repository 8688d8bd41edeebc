// Benchmark of the game loop: 20,000 frames on Hard, headless with the
// recording driver, a scripted pointer sweeping the screen with a button
// held and the ship kept alive; prints the median and 99th percentile of the
// per-frame CPU time of logic plus draw submission, and the peak numbers of
// enemies, shots and sparks. Not part of the tests.
// Depends on the game layer and the headless set-up shared with its tests.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "game/enemies.h"
#include "tests/game/headless_game.h"

namespace {

constexpr int kFrames = 20000;

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

}  // namespace

int main() {
    game_test::Headless h;
    game_test::InstallHeadless(h);
    // The budgets a fast machine gets from the engine test.
    engine::DrawBudgets[1] = 8000;
    engine::DrawBudgets[2] = 8000;
    engine::DrawBudgets[3] = 4000;
    game::Difficulty = 2;
    game::GameSetup();

    std::vector<double> times;
    times.reserve(kFrames);
    size_t peakEnemies = 0, peakShots = 0, peakSparks = 0;
    for (int f = 1; f <= kFrames; ++f) {
        h.driver->Clear();
        h.right = f > 1;  // one released frame first: the gun starts cold
        game_test::SetPointer(160 + (f * 7) % 960, 80 + (f * 3) % 800);
        game::Lives = 5;
        const double start = ThreadCpuMs();
        game::GameStep();
        game::GameFrameDone(0);
        times.push_back(ThreadCpuMs() - start);
        peakEnemies = std::max(peakEnemies, game::EnemyList.size());
        peakShots = std::max(peakShots, game::ShotList.size());
        peakSparks = std::max(peakSparks, game::ParticleList.size());
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double p99 = times[static_cast<size_t>(times.size() * 0.99)];
    std::printf("game loop, Hard, %d frames (logic + draw submission, CPU time per frame)\n",
                kFrames);
    std::printf("  median %.3f ms, 99th percentile %.3f ms, worst %.3f ms\n", median, p99,
                times.back());
    std::printf("  peak enemies %zu, shots %zu, sparks %zu; score %d, formations %d\n", peakEnemies,
                peakShots, peakSparks, game::GameScore, game::FormationCount);
    std::printf("  target: median <= 1 ms, 99th percentile <= 2 ms: %s\n",
                median <= 1.0 && p99 <= 2.0 ? "met" : "NOT met");
    std::fflush(stdout);
    game_test::UninstallHeadless();
    return 0;
}
