// Writes distinct, verifiable runs for the board's load benchmark: the
// checked-in replays played otherwise (the pointer moved by a few pixels
// throughout, then re-recorded) under other names and dates, so each file is
// a game of its own, not a copy the board would refuse. Not part of the tests.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "game/replay_file.h"
#include "game/replay_verify.h"

namespace {

const char* const kDifficulties[] = {"easy", "medium", "hard"};

// Reads a whole file; false when it cannot.
bool ReadFile(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    bytes = s.str();
    return static_cast<bool>(in) || in.eof();
}

}  // namespace

// Usage: zq_board_runs REPLAY_DIR OUT_DIR COUNT [FIRST]
// Writes OUT_DIR/run-K.zqr for K = FIRST .. FIRST+COUNT-1, difficulties in
// turn (every third one Hard), named "Pilot K" with the date moved on by K
// seconds, each played with the pointer K pixels further right (its own game).
int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: zq_board_runs REPLAY_DIR OUT_DIR COUNT [FIRST]\n");
        return 2;
    }
    const std::string in = argv[1];
    const std::string out = argv[2];
    const long count = std::strtol(argv[3], nullptr, 10);
    const long first = argc > 4 ? std::strtol(argv[4], nullptr, 10) : 0;
    if (count < 1 || count > 1000000 || first < 0 || first > 1000000) {
        std::fprintf(stderr, "zq_board_runs: COUNT must be 1..1000000 and FIRST 0..1000000\n");
        return 2;
    }
    game::Replay golden[3];
    for (int d = 0; d < 3; ++d) {
        std::string bytes, error;
        const std::string path = in + "/" + kDifficulties[d] + ".zqr";
        if (!ReadFile(path, bytes) || !game::DecodeReplay(bytes, golden[d], error)) {
            std::fprintf(stderr, "zq_board_runs: cannot read %s: %s\n", path.c_str(),
                         error.empty() ? "no such file" : error.c_str());
            return 1;
        }
    }
    for (long k = first; k < first + count; ++k) {
        game::Replay r = golden[k % 3];
        for (game::ReplayStep& step : r.steps) step.pointerX += static_cast<int32_t>(k % 997 + 1);
        r = game::RecordAgain(std::move(r));
        r.header.name = "Pilot " + std::to_string(k);
        r.header.timestamp += k;
        const std::string bytes = game::EncodeReplay(r);
        const std::string path = out + "/run-" + std::to_string(k) + ".zqr";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        if (bytes.empty() ||
            !file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
            std::fprintf(stderr, "zq_board_runs: cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
