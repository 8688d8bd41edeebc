// Replay options and the Watch button's playback.
#include "app/replay_cli.h"

#include <cstring>
#include <utility>

#include "app/title_screen.h"
#include "engine/frame_end.h"
#include "game/replay.h"
#include "game/replay_verify.h"
#include "scores/replay_store.h"
#include "scores/score_panel.h"

namespace app {

namespace {

// The file given with --replay ("" for none).
std::string g_pendingReplay;

// Appends text as a JSON string; bytes from 128 up pass as they are (paths are UTF-8).
void AppendJson(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

// Plays a replay file in the window; a file that cannot be read shows a notice instead.
void WatchFile(const std::string& path, const std::string& shownName) {
    game::Replay replay;
    std::string error;
    if (!game::ReadReplayFile(path, replay, error)) {
        engine::AddNotice("Cannot play the replay " + shownName + ": " + error, 1);
        return;
    }
    game::WatchReplay(replay);
    // The title screen comes back as after a game: panel sliding in, no stale presses.
    FrontEnd.escapeLatch = true;
    FrontEnd.startLatch = true;
    FrontEnd.panelSlide = 0;
}

}  // namespace

int HandleReplayOption(int argc, char** argv, int& i) {
    if (std::strcmp(argv[i], "--verify-replay") == 0) {
        std::vector<std::string> files(argv + i + 1, argv + argc);
        i = argc;
        if (files.empty()) {
            std::fprintf(stderr, "zarquill: --verify-replay needs at least one replay file\n");
            return 2;
        }
        return VerifyReplays(files, stdout, stderr);
    }
    if (std::strcmp(argv[i], "--replay") == 0) {
        if (i + 1 >= argc) {
            std::fprintf(stderr, "zarquill: --replay needs a replay file\n");
            return 2;
        }
        const std::string path = argv[++i];
        game::Replay replay;
        std::string error;
        if (!game::ReadReplayFile(path, replay, error)) {
            std::fprintf(stderr, "zarquill: cannot read replay %s: %s\n", path.c_str(),
                         error.c_str());
            return 2;
        }
        g_pendingReplay = path;
        return kStartWithReplay;
    }
    return kNotReplayOption;
}

void PlayPendingReplay() {
    if (g_pendingReplay.empty()) return;
    const std::string path = std::exchange(g_pendingReplay, std::string());
    WatchFile(path, path);
}

void InstallReplayHooks() {
    scores::WatchReplayHook = [](const scores::Scores& record) {
        WatchFile(scores::ReplayPath(record), scores::ReplayFileName(record));
    };
}

int VerifyReplays(const std::vector<std::string>& files, std::FILE* out, std::FILE* err) {
    game::InstallHeadlessSimulation();
    int status = 0;
    for (const std::string& file : files) {
        std::string line = "{\"file\":";
        AppendJson(line, file);
        game::Replay replay;
        std::string error;
        if (!game::ReadReplayFile(file, replay, error)) {
            std::fprintf(err, "zarquill: cannot read replay %s: %s\n", file.c_str(), error.c_str());
            line += ",\"error\":";
            AppendJson(line, error);
            line += "}\n";
            std::fputs(line.c_str(), out);
            status = 2;
            continue;
        }
        const game::ReplayVerdict v = game::VerifyReplay(replay);
        line += ",\"frames\":" + std::to_string(v.frames);
        line += ",\"recorded_score\":" + std::to_string(v.recordedScore);
        line += ",\"simulated_score\":" + std::to_string(v.simulatedScore);
        line += std::string(",\"ok\":") + (v.ok ? "true" : "false");
        line += ",\"first_bad_step\":" +
                (v.firstBadStep < 0 ? std::string("null") : std::to_string(v.firstBadStep));
        if (!v.ok) {
            line += ",\"reason\":";
            AppendJson(line, v.reason);
        }
        line += "}\n";
        std::fputs(line.c_str(), out);
        if (!v.ok && status == 0) status = 1;
    }
    std::fflush(out);
    game::UninstallHeadlessSimulation();
    return status;
}

}  // namespace app
