// The --share command and the sharing hooks of the game.
#include "app/share_cli.h"

#include <atomic>

#include "app/score_panel.h"
#include "engine/media/asset_read.h"
#include "engine/media/text.h"
#include "game/replay_file.h"
#include "share/board_share.h"

namespace app {

namespace {

const char* const kOutcomeNames[] = {"queued", "pending", "verified", "rejected", "refused"};

// Returns one run's JSON line.
std::string OutcomeLine(const std::string& file, int64_t id, const std::string& state, int64_t rank,
                        const std::string& reason) {
    std::string line = "{\"file\":";
    media::AppendJsonString(line, file, media::JsonBytes::kPath);
    line += ",\"id\":" + (id > 0 ? std::to_string(id) : std::string("null"));
    line += ",\"state\":\"" + state + "\"";
    if (state == "verified" || state == "pending") {
        line += ",\"rank\":" + (rank > 0 ? std::to_string(rank) : std::string("null"));
    } else {
        line += ",\"reason\":";
        // Reasons are the board's UTF-8 or this program's ASCII.
        media::AppendJsonString(line, reason, media::JsonBytes::kPath);
    }
    return line + "}\n";
}

// Returns the entry of a replay in the queue for a server, or a new queued one.
scores::BoardRun EntryOf(const std::vector<scores::BoardRun>& queue, const std::string& replay,
                         const std::string& server) {
    for (const scores::BoardRun& r : queue) {
        if (r.replay == replay && (r.server == server || r.state == scores::BoardState::kQueued)) {
            return r;
        }
    }
    scores::BoardRun run;
    run.replay = replay;
    run.server = server;
    return run;
}

}  // namespace

ShareOptions ParseShareArguments(const std::vector<std::string>& args,
                                 const std::string& currentDir) {
    ShareOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--board") {
            if (i + 1 >= args.size()) {
                options.error = "--board needs a URL";
                return options;
            }
            options.board = args[++i];
            continue;
        }
        if (a.size() > 1 && a[0] == '-') {
            options.error = "unknown option '" + a + "' after --share";
            return options;
        }
        std::string dir = currentDir;
        if (!dir.empty() && dir.back() != '/') dir += '/';
        options.files.push_back(!a.empty() && a[0] == '/' ? a : dir + a);
    }
    return options;
}

int RunShareCommand(const ShareOptions& options, std::FILE* out, std::FILE* err) {
    std::string server;
    if (!options.board.empty()) {
        std::string problem;
        server = scores::ParseBoardIni("Server = " + options.board, problem);
        if (server.empty()) {
            std::fprintf(err, "zarquill: --board %s: %s\n", options.board.c_str(),
                         problem.empty() ? "no address" : problem.c_str());
            return 2;
        }
    } else {
        server = scores::NamedBoard();
        if (server.empty()) {
            std::fprintf(err,
                         "zarquill: no board named: give --board URL or a line 'Server = URL' "
                         "in %s\n",
                         scores::BoardIniPath().c_str());
            return 2;
        }
    }

    std::vector<scores::BoardRun> queue = scores::LoadBoardQueue();
    std::vector<scores::BoardRun> runs;
    if (options.files.empty()) {
        for (const scores::BoardRun& r : queue) {
            if (scores::IsWaiting(r, server)) runs.push_back(r);
        }
    } else {
        for (const std::string& file : options.files) runs.push_back(EntryOf(queue, file, server));
    }

    int status = 0;
    std::string token;
    static const std::atomic<bool> kNeverStop{false};
    for (const scores::BoardRun& run : runs) {
        std::string bytes;
        if (run.state == scores::BoardState::kQueued) {
            std::string why;
            game::Replay replay;
            const media::AssetRead read =
                media::ReadAssetFile(run.replay, game::kReplayMaxFileBytes, bytes, why);
            if (read == media::AssetRead::kMissing) why = "no such file";
            if (read != media::AssetRead::kOk || !game::DecodeReplay(bytes, replay, why)) {
                std::fprintf(err, "zarquill: cannot read replay %s: %s\n", run.replay.c_str(),
                             why.c_str());
                std::fputs(OutcomeLine(run.replay, 0, "unreadable", 0, why).c_str(), out);
                std::fflush(out);
                status = 2;
                continue;
            }
        }
        scores::ShareResult result;
        result.run = run;
        if (run.state == scores::BoardState::kRefused) {
            // Refused once, refused again: a refused run is never sent twice.
        } else {
            if (token.empty()) {
                std::string problem;
                token = scores::BoardToken(problem);
                if (token.empty()) {
                    std::fprintf(err, "zarquill: nothing sent: %s\n", problem.c_str());
                    result.problem = problem;
                }
            }
            if (!token.empty()) {
                result = scores::ExchangeRun(server, token, run, bytes, scores::ShareLimits{},
                                             kNeverStop);
            }
        }
        const scores::BoardRun& r = result.run;
        scores::MergeBoardRun(queue, r);
        scores::SaveBoardQueue(queue);
        const std::string state = kOutcomeNames[static_cast<int>(r.state)];
        std::string reason = r.reason;
        if (!result.problem.empty()) {
            std::fprintf(err, "zarquill: %s: %s\n", run.replay.c_str(), result.problem.c_str());
            reason = result.problem;
        }
        std::fputs(OutcomeLine(r.replay, r.id, state, r.rank, reason).c_str(), out);
        std::fflush(out);
        if (r.state == scores::BoardState::kQueued) {
            status = 2;
        } else if (r.state == scores::BoardState::kRejected ||
                   r.state == scores::BoardState::kRefused) {
            if (status == 0) status = 1;
        }
    }
    return status;
}

void InstallShareHooks() {
    scores::SetReplayCheck([](std::string_view bytes, std::string& why) {
        game::Replay replay;
        return game::DecodeReplay(bytes, replay, why);
    });
    BoardLineHook = [](const scores::Scores& record) { return scores::BoardLineFor(record); };
    CanShareHook = [](const scores::Scores& record) { return scores::CanShareRun(record); };
    scores::ShareRunHook = [](const scores::Scores& record) { scores::ShareStoredRun(record); };
}

}  // namespace app
