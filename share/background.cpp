// The game's background sharing: the queue in memory and one exchange at a
// time, whose requests go out without waiting (TFetcher: the worker thread and
// libcurl on the desktop, fetch() in the browser) and whose answers, like its
// waits between questions, are taken in when the frame loop polls.
#include "share/background.h"

#include <deque>
#include <memory>
#include <set>
#include <vector>

#include "engine/frame_end.h"
#include "engine/http/http_client.h"
#include "engine/log.h"
#include "engine/media/asset_read.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/text.h"
#include "scores/replay_store.h"
#include "share/board_ini.h"
#include "share/panel_texts.h"
#include "share/queue_file.h"
#include "share/token_file.h"

namespace scores {

namespace {

// The largest replay read for sending (the board itself takes at most 1 MiB).
constexpr size_t kMaxReplayBytes = size_t{16} << 20;

// State: everything the game's sharing keeps, in one place.
struct Sharing {
    bool started = false;
    std::string server;  // the named board ("" when none)
    ShareLimits limits;
    std::vector<BoardRun> queue;
    std::set<std::string> inFlight;  // replays whose exchange has not come back
    // Exchanges in the order posted; only the first one sends, as one worker ran them before.
    std::deque<std::unique_ptr<TRunExchange>> exchanges;
    std::vector<ShareResult> results;  // finished exchanges not yet taken in
    std::unique_ptr<media::TFetcher> fetcher;
    std::function<bool(std::string_view, std::string&)> replayCheck;
    bool unreachableNoticed = false;  // the "not reachable" notice was shown this session
    bool tokenProblemLogged = false;
};
Sharing g_share;

// Returns the queue entry of a replay for the named board, or null. A run no
// board has taken yet waits for whichever board is named.
BoardRun* EntryFor(const std::string& replay) {
    for (BoardRun& r : g_share.queue) {
        if (r.replay == replay && (r.server == g_share.server || r.state == BoardState::kQueued)) {
            return &r;
        }
    }
    return nullptr;
}

// Moves the first exchange on: sends its next request when one is due, and
// takes every finished exchange off the line.
void DriveExchanges() {
    while (!g_share.exchanges.empty()) {
        TRunExchange& exchange = *g_share.exchanges.front();
        if (exchange.Done()) {
            g_share.results.push_back(exchange.Result());
            g_share.exchanges.pop_front();
            continue;
        }
        std::optional<media::THttpRequest> request = exchange.NextRequest(TRunExchange::Clock::now());
        if (!request) return;  // an answer or the time to ask again is awaited
        if (!g_share.fetcher) g_share.fetcher = std::make_unique<media::TFetcher>();
        g_share.fetcher->Start(*request, [&exchange](const media::THttpResponse& answer) {
            exchange.TakeAnswer(answer, TRunExchange::Clock::now());
        });
        return;
    }
}

// Posts an exchange for every run that waits; they run one after another.
void SendWaitingRuns() {
    if (g_share.server.empty()) return;
    std::string token;
    for (BoardRun& run : g_share.queue) {
        if (!IsWaiting(run, g_share.server) || g_share.inFlight.count(run.replay)) continue;
        std::string bytes;
        if (run.state == BoardState::kQueued) {
            std::string why;
            if (media::ReadAssetFile(run.replay, kMaxReplayBytes, bytes, why) !=
                media::AssetRead::kOk) {
                engine::WriteLog("\tBoard: cannot read the replay " + run.replay + " (" + why +
                                 "); it stays queued");
                continue;
            }
            // Only a replay ever leaves the machine, whatever the queue file names.
            if (g_share.replayCheck && !g_share.replayCheck(bytes, why)) {
                engine::WriteLog("\tBoard: " + run.replay + " is not a replay (" + why +
                                 "); not sent");
                run.state = BoardState::kRefused;
                run.reason = "not a replay: " + why;
                run.noticed = true;
                SaveBoardQueue(g_share.queue);
                continue;
            }
        }
        if (token.empty()) {
            std::string problem;
            token = BoardToken(problem);
            if (token.empty()) {
                if (!g_share.tokenProblemLogged) {
                    engine::WriteLog("\tBoard: nothing sent: " + problem);
                    g_share.tokenProblemLogged = true;
                }
                return;
            }
        }
        g_share.inFlight.insert(run.replay);
        g_share.exchanges.push_back(std::make_unique<TRunExchange>(
            g_share.server, token, run, std::move(bytes), g_share.limits,
            TRunExchange::Clock::now()));
    }
    DriveExchanges();
}

}  // namespace

void SetReplayCheck(std::function<bool(std::string_view bytes, std::string& why)> check) {
    g_share.replayCheck = std::move(check);
}

void StartBoardSharing(const ShareLimits& limits) {
    g_share.limits = limits;
    g_share.server = NamedBoard();
    g_share.started = true;
    g_share.queue = LoadBoardQueue();
    // A run whose replay is gone (it left the score list) can no longer be sent or shown.
    const size_t before = g_share.queue.size();
    std::erase_if(g_share.queue, [](const BoardRun& r) { return media::FileType(r.replay) != 1; });
    if (g_share.queue.size() != before) SaveBoardQueue(g_share.queue);
    if (g_share.server.empty()) return;
    engine::WriteLog("\tBoard: sharing runs with " + g_share.server);
    SendWaitingRuns();
}

void ShareStoredRun(const Scores& record) {
    if (!g_share.started) StartBoardSharing(g_share.limits);
    if (g_share.server.empty()) return;
    const std::string replay = ReplayPath(record);
    if (media::FileType(replay) != 1) {
        engine::WriteLog("\tBoard: the run has no replay to send");
        return;
    }
    if (!EntryFor(replay)) {
        BoardRun run;
        run.replay = replay;
        run.server = g_share.server;
        MergeBoardRun(g_share.queue, run);
        // On disk before anything is sent: a crash or a close cannot lose it.
        SaveBoardQueue(g_share.queue);
    }
    SendWaitingRuns();
}

void DriveBoardSharing() {
    if (g_share.fetcher) g_share.fetcher->Poll();
    DriveExchanges();
}

void PollBoardSharing() {
    DriveBoardSharing();
    std::vector<ShareResult> results;
    results.swap(g_share.results);
    if (results.empty()) return;
    for (ShareResult& result : results) {
        g_share.inFlight.erase(result.run.replay);
        BoardRun& run = result.run;
        if (!result.problem.empty()) {
            engine::WriteLog("\tBoard: " + run.replay + ": " + result.problem);
            if (run.state == BoardState::kQueued && !g_share.unreachableNoticed &&
                result.problem != "cancelled") {
                engine::AddNotice("Board: not reachable, the run waits in the queue", 1);
                g_share.unreachableNoticed = true;
            }
        }
        const bool settled = run.state == BoardState::kVerified ||
                             run.state == BoardState::kRejected ||
                             run.state == BoardState::kRefused;
        if (settled && !run.noticed) {
            engine::AddNotice(OutcomeNotice(run), 1);
            engine::WriteLog("\tBoard: " + run.replay + ": " + media::ToUtf8(BoardStateText(run)));
            run.noticed = true;
        }
        MergeBoardRun(g_share.queue, run);
    }
    SaveBoardQueue(g_share.queue);
}

void StopBoardSharing() {
    if (g_share.fetcher) {
        // The request out ends within a tenth of a second, answered "cancelled".
        g_share.fetcher->Cancel();
        g_share.fetcher->Poll();
    }
    // The exchange under way ends where it stands; the ones behind it never began.
    if (!g_share.exchanges.empty()) {
        g_share.exchanges.front()->Finish();
        g_share.results.push_back(g_share.exchanges.front()->Result());
        g_share.exchanges.clear();
    }
    g_share.fetcher.reset();
    PollBoardSharing();
    g_share.inFlight.clear();
}

bool BoardSharingBusy() {
    if (!g_share.inFlight.empty()) return true;
    return g_share.fetcher && g_share.fetcher->Busy();
}

std::string BoardLineFor(const Scores& record) {
    if (g_share.server.empty()) return "";
    const BoardRun* run = EntryFor(ReplayPath(record));
    return run ? BoardStateText(*run) : "";
}

bool CanShareRun(const Scores& record) {
    if (g_share.server.empty() || !HasReplay(record)) return false;
    return EntryFor(ReplayPath(record)) == nullptr;
}

void ResetBoardSharing() {
    StopBoardSharing();
    auto check = std::move(g_share.replayCheck);
    g_share = Sharing{};
    g_share.replayCheck = std::move(check);
}

}  // namespace scores
