// Re-simulation through the game's replay check (the same one --verify-replay
// runs). Note: until the game layer offers the headless set-up on its own,
// this goes through --verify-replay's entry with a temporary file.
#include "board/resimulate.h"

#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/replay_cli.h"

namespace board {

game::ReplayVerdict Resimulate(const game::Replay& replay) {
    game::ReplayVerdict v;
    v.frames = replay.header.frames;
    v.recordedScore = replay.header.score;
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/zarquill-board-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        v.reason = "no temporary file for the re-simulation";
        return v;
    }
    ::close(fd);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    if (!out || !err || !game::WriteReplayFile(path, replay)) {
        v.reason = "no temporary file for the re-simulation";
    } else {
        app::VerifyReplays({path}, out, err);
        std::rewind(out);
        std::string line;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) line.append(buf, n);
        const auto j = nlohmann::json::parse(line, nullptr, false);
        if (j.is_object() && j.contains("ok")) {
            v.ok = j.value("ok", false);
            v.simulatedScore = j.value("simulated_score", int64_t{0});
            v.firstBadStep =
                j["first_bad_step"].is_number() ? j["first_bad_step"].get<int64_t>() : -1;
            v.reason = j.value("reason", std::string());
        } else {
            v.reason = j.is_object() ? j.value("error", std::string("unreadable")) : "unreadable";
        }
    }
    if (out) std::fclose(out);
    if (err) std::fclose(err);
    ::unlink(path.c_str());
    return v;
}

}  // namespace board
