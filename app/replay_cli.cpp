// Replay options and the Watch button's playback.
#include "app/replay_cli.h"

#include <cstring>
#include <utility>

#include "app/score_panel.h"
#include "engine/frame_end.h"
#include "engine/media/text.h"
#include "engine/screen_stack.h"
#include "game/replay.h"
#include "game/replay_verify.h"
#include "scores/replay_store.h"

namespace app {

namespace {

// The file given with --replay ("" for none).
std::string g_pendingReplay;

// Returns the JSON line of one file's verdict. Every line has the same fields;
// a file that could not be read has null for the numbers it never gave.
std::string VerdictLine(const std::string& file, const game::ReplayVerdict* v,
                        const std::string& reason) {
    const auto number = [v](auto field) {
        return v ? std::to_string(v->*field) : std::string("null");
    };
    std::string line = "{\"file\":";
    media::AppendJsonString(line, file, media::JsonBytes::kPath);
    line += ",\"frames\":" + number(&game::ReplayVerdict::frames);
    line += ",\"recorded_score\":" + number(&game::ReplayVerdict::recordedScore);
    line += ",\"simulated_score\":" + number(&game::ReplayVerdict::simulatedScore);
    line += std::string(",\"ok\":") + (v && v->ok ? "true" : "false");
    line += ",\"first_bad_step\":" +
            (v && v->firstBadStep >= 0 ? std::to_string(v->firstBadStep) : std::string("null"));
    line += ",\"reason\":";
    if (reason.empty()) {
        line += "null";
    } else {
        media::AppendJsonString(line, reason);
    }
    return line + "}\n";
}

// Puts a replay file's playback on the screen stack (it starts after the step
// under way); a file that cannot be read shows a notice instead. The title
// screen comes back from it as after a game.
void WatchFile(const std::string& path, const std::string& shownName) {
    game::Replay replay;
    std::string error;
    if (!game::ReadReplayFile(path, replay, error)) {
        engine::AddNotice("Cannot play the replay " + shownName + ": " + error, 1);
        return;
    }
    engine::Screens().PushAfterStep(game::WatchReplay(std::move(replay)));
}

}  // namespace

int VerifyReplayOption(int argc, char** argv, int& i) {
    std::vector<std::string> files(argv + i + 1, argv + argc);
    i = argc;
    if (files.empty()) {
        std::fprintf(stderr, "zarquill: --verify-replay needs at least one replay file\n");
        return 2;
    }
    return VerifyReplays(files, stdout, stderr);
}

int ReplayOption(int argc, char** argv, int& i) {
    if (i + 1 >= argc) {
        std::fprintf(stderr, "zarquill: --replay needs a replay file\n");
        return 2;
    }
    const std::string path = argv[++i];
    game::Replay replay;
    std::string error;
    if (!game::ReadReplayFile(path, replay, error)) {
        std::fprintf(stderr, "zarquill: cannot read replay %s: %s\n", path.c_str(), error.c_str());
        return 2;
    }
    g_pendingReplay = path;
    return kStartWithReplay;
}

void PlayPendingReplay() {
    if (g_pendingReplay.empty()) return;
    const std::string path = std::exchange(g_pendingReplay, std::string());
    WatchFile(path, path);
}

void InstallReplayHooks() {
    WatchReplayHook = [](const scores::Scores& record) {
        WatchFile(scores::ReplayPath(record), scores::ReplayFileName(record));
    };
}

int VerifyReplays(const std::vector<std::string>& files, std::FILE* out, std::FILE* err) {
    game::InstallHeadlessSimulation();
    int status = 0;
    for (const std::string& file : files) {
        game::Replay replay;
        std::string error;
        if (!game::ReadReplayFile(file, replay, error)) {
            std::fprintf(err, "zarquill: cannot read replay %s: %s\n", file.c_str(), error.c_str());
            std::fputs(VerdictLine(file, nullptr, error).c_str(), out);
            status = 2;
            continue;
        }
        const game::ReplayVerdict v = game::VerifyReplay(replay);
        std::fputs(VerdictLine(file, &v, v.ok ? std::string() : v.reason).c_str(), out);
        if (!v.ok && status == 0) status = 1;
    }
    std::fflush(out);
    game::UninstallHeadlessSimulation();
    return status;
}

}  // namespace app
