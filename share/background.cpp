// The game's background sharing: the queue in memory, the exchanges posted to
// the worker thread and their results taken in on the main thread.
#include "share/background.h"

#include <memory>
#include <mutex>
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

// Finished exchanges, handed from the worker thread to the main thread.
struct Mailbox {
    std::mutex mutex;
    std::vector<ShareResult> results;
};

// State: everything the game's sharing keeps, in one place.
struct Sharing {
    bool started = false;
    std::string server;  // the named board ("" when none)
    ShareLimits limits;
    std::vector<BoardRun> queue;
    std::set<std::string> inFlight;  // replays whose exchange has not come back
    std::shared_ptr<Mailbox> mailbox = std::make_shared<Mailbox>();
    std::unique_ptr<media::TBackgroundWorker> worker;
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

// Posts an exchange for every run that waits, one after another on the worker.
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
        if (!g_share.worker) g_share.worker = std::make_unique<media::TBackgroundWorker>();
        g_share.inFlight.insert(run.replay);
        g_share.worker->Post([server = g_share.server, token, run, bytes = std::move(bytes),
                              limits = g_share.limits,
                              mailbox = g_share.mailbox](const std::atomic<bool>& stop) {
            ShareResult result = ExchangeRun(server, token, run, bytes, limits, stop);
            std::lock_guard lock(mailbox->mutex);
            mailbox->results.push_back(std::move(result));
        });
    }
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

void PollBoardSharing() {
    std::vector<ShareResult> results;
    {
        std::lock_guard lock(g_share.mailbox->mutex);
        results.swap(g_share.mailbox->results);
    }
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
    if (g_share.worker) {
        g_share.worker->Stop();
        g_share.worker.reset();
    }
    PollBoardSharing();
    g_share.inFlight.clear();
}

bool BoardSharingBusy() {
    if (!g_share.inFlight.empty()) return true;
    return g_share.worker && g_share.worker->Busy();
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
