// Makes the ten-minute Hard game of the test data (hard-ten-minutes.zqr) that the
// viewer's benchmark watches and the cross-build test checks: a player that looks
// ahead. Every 8 steps it plays each of 26 first moves (where to steer the
// pointer, whether to fire, or to stand and shoot at the nearest enemy) for 16
// steps on copies of the running game made with fork(), and from each of those
// each of 10 second moves for the rest of a second and a half; it takes the first
// move whose best line puts off losing a life longest, then loses fewest, then
// keeps farthest from enemies, their shots and the edges. The game is the real
// one, recorded with the real recorder and re-simulated at the end to prove it
// verifies; only the choice of input looks ahead, which is why a game made this
// way lasts where random input on Hard does not (about a minute). Deterministic:
// the same game every time, in about ten minutes on two cores. Not part of the
// tests.
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "game/enemies.h"
#include "game/replay_file.h"
#include "game/replay_verify.h"
#include "tests/game/scripted_game.h"

namespace {

constexpr int kTenMinutes = 10 * 60 * 60;
constexpr int kHard = 2;
constexpr int kDecideEvery = 8;  // steps a chosen move is kept
constexpr int kLookAhead = 90;   // steps each line of copies plays on
constexpr int kFirstSteps = 16;  // of which the first move's
constexpr double kComfort = 160;  // clearance beyond which more does not count

// One move: steer the pointer to an offset from the ship, firing or not; or (aim) hold the
// ship with the left button and point at the nearest enemy on the screen, firing at it.
struct Move {
    int dx, dy;
    bool fire;
    bool aim = false;
};

// What a copy reports: lives it lost, the step of its first loss (kLookAhead: none),
// its summed (capped) clearance and the points it made.
struct Outcome {
    int livesLost;
    int firstLoss;
    double clearance;
    long long score;
};

// Returns moves: stand and shoot, stay, eight directions at each reach without fire, and
// eight directions at the longest reach with fire where `fire`.
std::vector<Move> Moves(std::vector<int> reaches, bool fire) {
    std::vector<Move> moves{{0, 0, true, true}, {0, 0, false}};
    for (const int reach : reaches) {
        for (int dx = -1; dx <= 1; ++dx) {
            for (int dy = -1; dy <= 1; ++dy) {
                if (dx != 0 || dy != 0) moves.push_back({dx * reach, dy * reach, false});
                if (fire && reach == reaches.back() && (dx != 0 || dy != 0)) {
                    moves.push_back({dx * reach, dy * reach, true});
                }
            }
        }
    }
    return moves;
}

// Returns how far the ship is from the nearest thing that can hurt it, beyond its hit box.
double Clearance() {
    const double cx = game::ShipX + 16, cy = game::ShipY + 16;
    double nearest = kComfort;
    for (const game::Enemy& e : game::EnemyList) {
        nearest = std::min(nearest, std::max(std::fabs(e.x + 32 - cx), std::fabs(e.y + 32 - cy)) - 40);
    }
    for (const game::Shot& s : game::ShotList) {
        if (s.t != 0) continue;
        nearest = std::min(nearest, std::max(std::fabs(s.x + 32 - cx), std::fabs(s.y + 32 - cy)) - 24);
    }
    // Edges and corners leave fewer ways out.
    const double w = engine::VirtualWidth, h = engine::VirtualHeight;
    nearest = std::min(nearest, std::min({cx, cy, w - cx, h - cy}) - 40);
    return std::max(nearest, -50.0);
}

// Sets the pointer and the buttons for a move made from the ship's place.
void Steer(game_test::Headless& h, const Move& m) {
    const int w = engine::VirtualWidth, ht = engine::VirtualHeight;
    if (m.aim) {
        const double cx = game::ShipX + 16, cy = game::ShipY + 16;
        const game::Enemy* nearest = nullptr;
        double d = 1e18;
        for (const game::Enemy& e : game::EnemyList) {
            if (e.x < -32 || e.x > w - 32 || e.y < -32 || e.y > ht - 32) continue;
            const double de = (e.x + 32 - cx) * (e.x + 32 - cx) + (e.y + 32 - cy) * (e.y + 32 - cy);
            if (de < d) {
                d = de;
                nearest = &e;
            }
        }
        if (nearest) {
            game_test::SetPointer(static_cast<int>(nearest->x) + 32, static_cast<int>(nearest->y) + 32);
            h.left = true;
            h.right = false;
            return;
        }
    }
    game_test::SetPointer(std::clamp(static_cast<int>(game::ShipX) + 16 + m.dx, 40, w - 40),
                          std::clamp(static_cast<int>(game::ShipY) + 16 + m.dy, 40, ht - 40));
    h.right = m.fire;
    h.left = false;
}

// Returns whether outcome a is better than b.
bool Better(const Outcome& a, const Outcome& b) {
    // A loss put off longest leaves the most decisions to find a way out.
    if (a.firstLoss != b.firstLoss) return a.firstLoss > b.firstLoss;
    if (a.livesLost != b.livesLost) return a.livesLost < b.livesLost;
    if (a.clearance != b.clearance) return a.clearance > b.clearance;
    return a.score > b.score;
}

// Plays moves[i] for `steps` steps in a copy and, while levels remain, tries every one of
// `next` from there in copies of its own; writes the best outcome of its line to *out.
void PlayLine(game_test::Headless& h, const Move& move, int steps, const std::vector<Move>& next,
              int nextSteps, int livesBefore, long long scoreBefore, int stepsBefore,
              Outcome* slots, Outcome* out);

// Waits for one copy; exits when it failed.
void AwaitCopy() {
    int status = 0;
    if (wait(&status) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a copy of the game failed\n");
        std::exit(1);
    }
}

// Tries each move on its own copy of the game, `parallel` copies at a time; slots[i] gets
// move i's outcome. Returns the best index.
size_t TryMoves(game_test::Headless& h, const std::vector<Move>& moves, int steps,
                const std::vector<Move>& next, int nextSteps, int livesBefore,
                long long scoreBefore, int stepsBefore, Outcome* slots, int parallel) {
    int running = 0;
    for (size_t i = 0; i < moves.size(); ++i) {
        if (running == parallel) {
            AwaitCopy();
            --running;
        }
        const pid_t pid = fork();
        if (pid < 0) {
            std::perror("fork");
            std::exit(1);
        }
        if (pid == 0) {
            // The copy's own copies report into the slots after this level's.
            PlayLine(h, moves[i], steps, next, nextSteps, livesBefore, scoreBefore, stepsBefore,
                     slots + moves.size() + i * next.size(), slots + i);
            _exit(0);
        }
        ++running;
    }
    for (; running > 0; --running) AwaitCopy();
    size_t best = 0;
    for (size_t i = 1; i < moves.size(); ++i) {
        if (Better(slots[i], slots[best])) best = i;
    }
    return best;
}

void PlayLine(game_test::Headless& h, const Move& move, int steps, const std::vector<Move>& next,
              int nextSteps, int livesBefore, long long scoreBefore, int stepsBefore,
              Outcome* slots, Outcome* out) {
    Outcome o{0, kLookAhead, 0, 0};
    engine::DrawingOff = true;  // a copy is never seen
    for (int t = 0; t < steps && game::EndCode == game::END_RUNNING; ++t) {
        Steer(h, move);
        game_test::PlayStep(h, 0);
        o.clearance += Clearance();
        if (game::Lives < livesBefore && o.firstLoss == kLookAhead) o.firstLoss = stepsBefore + t;
    }
    if (!next.empty() && game::EndCode == game::END_RUNNING) {
        const size_t best = TryMoves(h, next, nextSteps, {}, 0, livesBefore, scoreBefore,
                                     stepsBefore + steps, slots, 1);
        const Outcome& b = slots[best];
        o.firstLoss = std::min(o.firstLoss, b.firstLoss);
        o.livesLost = b.livesLost;
        o.clearance += b.clearance;
        o.score = b.score;
    } else {
        o.livesLost = livesBefore - game::Lives;
        o.score = game::GameScore - scoreBefore;
    }
    *out = o;
}

// Chooses the next move: each first move, then each second move after it, played on copies.
Move Choose(game_test::Headless& h, const std::vector<Move>& first,
            const std::vector<Move>& second, Outcome* slots) {
    // One line of copies per processor: each runs its second moves one after another.
    static const int processors = std::max(1, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    const size_t best = TryMoves(h, first, kFirstSteps, second, kLookAhead - kFirstSteps,
                                 game::Lives, game::GameScore, 0, slots, processors);
    return first[best];
}

}  // namespace

// Usage: zq_viewer_bench_game OUT.zqr — prints "steps score lives" of the game written.
int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zq_viewer_bench_game OUT.zqr\n");
        return 2;
    }
    const std::vector<Move> first = Moves({140, 320}, true);
    const std::vector<Move> second = Moves({240}, false);
    const size_t slotCount = first.size() * (1 + second.size());
    void* memory = mmap(nullptr, sizeof(Outcome) * slotCount, PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        std::perror("mmap");
        return 1;
    }
    auto* shared = static_cast<Outcome*>(memory);
    std::fflush(nullptr);  // nothing buffered is written twice by the copies

    game_test::Headless h;
    game_test::InstallHeadless(h);
    Move move{0, 0, true};
    game::Replay r = game_test::PlayRecordedGame(h, kHard, kTenMinutes, false, [&](int f) {
        if (f % kDecideEvery == 1) move = Choose(h, first, second, shared);
        Steer(h, move);
        if (f % 3600 == 0) {
            std::fprintf(stderr, "minute %d: lives %d score %lld\n", f / 3600, game::Lives,
                         static_cast<long long>(game::GameScore));
        }
    });
    game_test::UninstallHeadless();

    game::InstallHeadlessSimulation();
    const game::ReplayVerdict v = game::SimulateReplay(r);
    game::UninstallHeadlessSimulation();
    if (!v.ok) {
        std::fprintf(stderr, "zq_viewer_bench_game: the game does not verify: %s\n", v.reason.c_str());
        return 1;
    }
    if (!game::WriteReplayFile(argv[1], r)) {
        std::fprintf(stderr, "zq_viewer_bench_game: cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%u %lld %d\n", r.header.frames, static_cast<long long>(r.header.score),
                r.header.lives);
    return 0;
}
