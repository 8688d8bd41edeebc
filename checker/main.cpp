// The replay checker: for each replay file given, one line with the file, its
// rules version, its verdict and every check value the re-simulation computed
// (after every 60th step, in hexadecimal). Built natively and for WebAssembly;
// the two builds must print the same lines for the same files.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "checker/draws.h"
#include "game/game_math.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "game/replay_verify.h"

namespace {

// Returns the line of one replay file: its verdict and the check values computed.
std::string CheckLine(const std::string& file, const game::Replay& replay, bool& ok) {
    std::vector<uint32_t> checks;
    uint32_t done = 0;
    const game::ReplayVerdict v = game::VerifyReplay(replay, [&] {
        if (++done % game::kReplayCheckInterval == 0) checks.push_back(game::GameCheckValue());
    });
    ok = v.ok;
    char head[160];
    std::snprintf(head, sizeof head,
                  " rules=%" PRIu32 " ok=%d frames=%" PRIu32 " score=%" PRId64 " first_bad=%" PRId64
                  " checks=%zu",
                  replay.header.rules, v.ok ? 1 : 0, v.frames, v.simulatedScore, v.firstBadStep,
                  checks.size());
    std::string line = file + head;
    for (uint32_t c : checks) {
        char hex[12];
        std::snprintf(hex, sizeof hex, " %08" PRIx32, c);
        line += hex;
    }
    return line + "\n";
}

}  // namespace

// Reads "--draws STEPS --files DIR [--data PACK] FILE" (steps ascending, comma-separated);
// false when the arguments are not of that form.
bool ParseDraws(int argc, char** argv, checker::DrawsSource& source,
                std::vector<uint32_t>& steps, std::string& file) {
    if (argc < 6 || std::string(argv[1]) != "--draws") return false;
    for (const char* p = argv[2]; *p;) {
        char* end = nullptr;
        const unsigned long step = std::strtoul(p, &end, 10);
        if (end == p || step == 0 || step > UINT32_MAX ||
            (!steps.empty() && step <= steps.back())) {
            return false;
        }
        steps.push_back(static_cast<uint32_t>(step));
        p = *end == ',' ? end + 1 : end;
        if (*end != ',' && *end != '\0') return false;
    }
    int i = 3;
    for (; i + 1 < argc - 1; i += 2) {
        const std::string option = argv[i];
        if (option == "--files") {
            source.filesDir = argv[i + 1];
        } else if (option == "--data") {
            source.packFile = argv[i + 1];
        } else {
            return false;
        }
    }
    file = argv[argc - 1];
    return i == argc - 1 && !source.filesDir.empty() && !steps.empty();
}

// Usage: zq_replay_checks FILE...; exits 0 when every file verified, 1 when one
// did not, 2 when one could not be read. With --draws, prints draw lists instead (draws.h).
int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "--draws") {
        checker::DrawsSource source;
        std::vector<uint32_t> steps;
        std::string file;
        if (!ParseDraws(argc, argv, source, steps, file)) {
            std::fprintf(stderr,
                         "usage: zq_replay_checks --draws STEP,STEP... --files DIR [--data PACK] "
                         "FILE\n");
            return 2;
        }
        return checker::PrintDraws(source, steps, file);
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: zq_replay_checks FILE...\n");
        return 2;
    }
    game::InstallHeadlessSimulation();
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        game::Replay replay;
        std::string error;
        if (!game::ReadReplayFile(argv[i], replay, error)) {
            std::printf("%s unreadable: %s\n", argv[i], error.c_str());
            status = 2;
            continue;
        }
#ifdef __EMSCRIPTEN__
        if (replay.header.rules < game::kOldestPortableRules) {
            std::printf("%s rules=%u not checked here: its rules use the platform's maths library\n",
                        argv[i], static_cast<unsigned>(replay.header.rules));
            continue;
        }
#endif
        bool ok = false;
        std::fputs(CheckLine(argv[i], replay, ok).c_str(), stdout);
        if (!ok && status == 0) status = 1;
    }
    game::UninstallHeadlessSimulation();
    return status;
}
