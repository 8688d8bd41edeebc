// Sharing runs with a board: "Board.ini", the token, the queue file, one
// exchange with the board's API, and the game's background sharing.
//
// The queue file lists every run shared (or to be shared) with a board, one
// JSON object per line, keyed by the run's replay file. A run is written to it
// as "queued" before anything is sent and changes only when the board has
// answered, so a send that fails, is cancelled or dies with the program leaves
// the run queued for the next try. Once the board has given the run an id it
// is never posted again, only asked about.
#include "scores/board_share.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "engine/frame_end.h"
#include "engine/log.h"
#include "engine/media/asset_read.h"
#include "engine/media/durable_file.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/http_client.h"
#include "engine/media/paths.h"
#include "engine/media/random.h"
#include "engine/media/text.h"
#include "scores/replay_store.h"
#include "scores/score_file.h"

namespace scores {

namespace {

using nlohmann::json;

// Caps on the files read.
constexpr int64_t kMaxBoardIniBytes = 64 * 1024;
constexpr int64_t kMaxTokenFileBytes = 4096;
constexpr int64_t kMaxQueueFileBytes = 8 << 20;
// The largest replay read for sending (the board itself takes at most 1 MiB).
constexpr size_t kMaxReplayBytes = size_t{16} << 20;
// Random bytes in a token (256 bits; the board asks for at least 128).
constexpr size_t kTokenBytes = 32;
// How often a wait looks at the stop flag.
constexpr int kStopCheckMs = 50;
// Why a run the board holds as another player's game is refused (the panel shows it).
constexpr const char* kCopyReason = "a copy of another player's run";
// The longest reason kept from a board's answer.
constexpr size_t kMaxReasonChars = 200;

const char* const kStateNames[] = {"queued", "pending", "verified", "rejected", "refused"};

// Returns the folder part of a path with its "/" ("" for a bare name).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TrimSpaces(std::string_view text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t' || text[a] == '\r')) ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\r')) --b;
    return std::string(text.substr(a, b - a));
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Returns the server URL without a trailing "/" joined with an API path.
std::string ApiUrl(const std::string& server, const std::string& path) {
    std::string base = server;
    while (!base.empty() && base.back() == '/') base.pop_back();
    return base + path;
}

// Returns the JSON of an answer's body, or a discarded value for anything else.
json ParseBody(const std::string& body) {
    return json::parse(body, nullptr, false);
}

// Returns a string field of a JSON object ("" when absent or not a string).
std::string StringField(const json& j, const char* key) {
    if (!j.is_object()) return "";
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : "";
}

// Returns a positive whole-number field of a JSON object, or 0.
int64_t IdField(const json& j, const char* key) {
    if (!j.is_object()) return 0;
    auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) return 0;
    const int64_t v = it->get<int64_t>();
    return v > 0 ? v : 0;
}

// Returns a text from the board as one line of a sane length (control characters become spaces).
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 32 || c == 127) c = ' ';
    }
    if (text.size() > kMaxReasonChars) text.resize(kMaxReasonChars);
    return text;
}

// Returns a one-line reason from an error answer.
std::string ErrorReason(const media::THttpResponse& r) {
    std::string reason = StringField(ParseBody(r.body), "error");
    if (reason.empty()) reason = "status " + std::to_string(r.status);
    return OneLine(reason);
}

// Returns what stopped a request that got no answer.
std::string NoAnswer(const media::THttpResponse& r) {
    switch (r.error) {
        case media::THttpError::kConnect:
            return "the board cannot be reached (" + r.errorText + ")";
        case media::THttpError::kTimeout:
            return "the board did not answer in time";
        case media::THttpError::kCancelled:
            return "cancelled";
        case media::THttpError::kTooLarge:
            return "the board's answer was too long";
        default:
            return "the request failed (" + r.errorText + ")";
    }
}

// Sleeps up to ms, returning early (false) once stop is set.
bool Wait(int ms, const std::atomic<bool>& stop) {
    for (int waited = 0; waited < ms; waited += kStopCheckMs) {
        if (stop.load()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kStopCheckMs, ms - waited)));
    }
    return !stop.load();
}

// Takes a run's fields from the board's answer about it.
void TakeRunAnswer(const json& j, BoardRun& run) {
    const std::string state = StringField(j, "state");
    if (state == "verified") run.state = BoardState::kVerified;
    if (state == "rejected") run.state = BoardState::kRejected;
    if (state == "pending") run.state = BoardState::kPending;
    const std::string name = OneLine(StringField(j, "name"));
    if (!name.empty()) run.name = name;
    // The board gives a verified run's place ("rank", null when it is not its
    // name's best); an answer without the field leaves the place known before.
    if (j.is_object() && j.contains("rank")) {
        run.rank = run.state == BoardState::kVerified ? IdField(j, "rank") : 0;
    }
    // The difficulty is shown on the panel: only the three the board has.
    const std::string difficulty = StringField(j, "difficulty");
    if (difficulty == "easy" || difficulty == "medium" || difficulty == "hard") {
        run.difficulty = difficulty;
    }
    if (run.state == BoardState::kRejected) run.reason = OneLine(StringField(j, "reason"));
}

// Returns the capitalised difficulty for the panel ("Hard").
std::string DifficultyText(const std::string& difficulty) {
    if (difficulty.empty()) return "the board";
    std::string text = difficulty;
    if (text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}  // namespace

std::string ParseBoardIni(std::string_view text, std::string& problem) {
    problem.clear();
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = TrimSpaces(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[') continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || LowerAscii(TrimSpaces(line.substr(0, eq))) != "server") {
            continue;
        }
        std::string url = TrimSpaces(line.substr(eq + 1));
        if (url.empty()) return "";
        const std::string lower = LowerAscii(url.substr(0, 8));
        const size_t schemeEnd = lower.rfind("https://", 0) == 0  ? 8
                                 : lower.rfind("http://", 0) == 0 ? 7
                                                                  : 0;
        bool clean = true;
        for (char c : url) {
            const auto u = static_cast<unsigned char>(c);
            if (u <= 32 || u == 127) clean = false;
        }
        if (schemeEnd == 0 || url.size() <= schemeEnd || url[schemeEnd] == '/' || !clean) {
            problem = "Server is not an http:// or https:// address";
            return "";
        }
        while (url.size() > schemeEnd && url.back() == '/') url.pop_back();
        return url;
    }
    return "";
}

std::string BoardIniPath() {
    return FolderOf(media::ProgramPathOr(media::ProgramPaths().setupFile, "Setup.ini")) +
           kBoardFileName;
}

std::string BoardTokenPath() {
    return FolderOf(media::ProgramPathOr(media::ProgramPaths().scoreFile, kScoreFileName)) +
           kBoardTokenFileName;
}

std::string BoardQueuePath() {
    return FolderOf(media::ProgramPathOr(media::ProgramPaths().scoreFile, kScoreFileName)) +
           kBoardQueueFileName;
}

std::string NamedBoard() {
    std::string text, why;
    const std::string path = BoardIniPath();
    const media::AssetRead read = media::ReadAssetFile(path, kMaxBoardIniBytes, text, why);
    if (read == media::AssetRead::kMissing) return "";
    if (read != media::AssetRead::kOk) {
        engine::WriteLog("\tBoard: " + path + " cannot be read (" + why + "); nothing is shared");
        return "";
    }
    std::string problem;
    const std::string server = ParseBoardIni(text, problem);
    if (!problem.empty()) {
        engine::WriteLog("\tBoard: " + path + ": " + problem + "; nothing is shared");
    }
    return server;
}

std::string MakeBoardToken() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    unsigned char bytes[kTokenBytes];
    if (!media::SystemRandomBytes(bytes, sizeof bytes)) return "";
    // Six bits per character (base64url without padding): 43 characters.
    std::string token;
    uint32_t acc = 0;
    int bits = 0;
    for (unsigned char b : bytes) {
        acc = (acc << 8) | b;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            token += kAlphabet[(acc >> bits) & 63];
        }
    }
    if (bits > 0) token += kAlphabet[(acc << (6 - bits)) & 63];
    return token;
}

std::string BoardToken(std::string& problem) {
    problem.clear();
    const std::string path = BoardTokenPath();
    std::string text, why;
    const media::AssetRead read = media::ReadAssetFile(path, kMaxTokenFileBytes, text, why);
    if (read == media::AssetRead::kOk) {
        const std::string token = TrimSpaces(text.substr(0, text.find('\n')));
        if (IsBoardToken(token)) return token;
        // The token owns the player's names on the board: never replaced silently.
        problem = "the token file " + path + " is damaged; remove it to make a new token";
        return "";
    }
    if (read != media::AssetRead::kMissing) {
        problem = "the token file " + path + " cannot be read (" + why + ")";
        return "";
    }
    const std::string token = MakeBoardToken();
    if (token.empty()) {
        problem = "no random bytes for a token";
        return "";
    }
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(path, true);
    if (out) out->WriteLine(token);
    if (!media::CloseFile(out)) {
        problem = "the token file " + path + " cannot be written";
        return "";
    }
    return token;
}

std::string FormatBoardRun(const BoardRun& run) {
    json j = {{"replay", run.replay},
              {"server", run.server},
              {"state", kStateNames[static_cast<int>(run.state)]},
              {"id", run.id},
              {"rank", run.rank},
              {"difficulty", run.difficulty},
              {"name", run.name},
              {"reason", run.reason},
              {"noticed", run.noticed}};
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool ParseBoardRun(std::string_view line, BoardRun& out) {
    const json j = json::parse(line, nullptr, false);
    if (!j.is_object()) return false;
    BoardRun run;
    run.replay = StringField(j, "replay");
    run.server = StringField(j, "server");
    const std::string state = StringField(j, "state");
    bool known = false;
    for (int i = 0; i < 5; ++i) {
        if (state == kStateNames[i]) {
            run.state = static_cast<BoardState>(i);
            known = true;
        }
    }
    if (!known || run.replay.empty() || run.replay[0] != '/') return false;
    run.id = IdField(j, "id");
    run.rank = IdField(j, "rank");
    if (run.state != BoardState::kQueued && run.state != BoardState::kRefused && run.id == 0) {
        return false;  // a state the board gave needs the board's id
    }
    run.difficulty = StringField(j, "difficulty");
    if (!run.difficulty.empty() && run.difficulty != "easy" && run.difficulty != "medium" &&
        run.difficulty != "hard") {
        return false;
    }
    run.name = StringField(j, "name");
    run.reason = StringField(j, "reason");
    auto noticed = j.find("noticed");
    run.noticed = noticed != j.end() && noticed->is_boolean() && noticed->get<bool>();
    out = std::move(run);
    return true;
}

std::vector<BoardRun> LoadBoardQueue() {
    std::vector<BoardRun> runs;
    const std::string path = BoardQueuePath();
    media::OpenResult result;
    std::unique_ptr<media::TStream> in = media::OpenDataFile(path, kMaxQueueFileBytes, result);
    if (result == media::OpenResult::kAbsent) return runs;
    if (!in) {
        engine::WriteLog("\tBoard: the queue " + path + " cannot be read");
        return runs;
    }
    int junk = 0;
    while (!in->Eof()) {
        const std::string line = in->ReadLine();
        if (line.empty()) continue;
        BoardRun run;
        if (ParseBoardRun(line, run)) {
            MergeBoardRun(runs, run);
        } else {
            ++junk;
        }
    }
    if (in->ReadFailed()) engine::WriteLog("\tBoard: the queue " + path + " was not read in full");
    if (junk > 0) {
        engine::WriteLog("\tBoard: " + std::to_string(junk) + " unreadable lines in " + path +
                         " skipped");
    }
    return runs;
}

bool SaveBoardQueue(const std::vector<BoardRun>& runs) {
    const std::string path = BoardQueuePath();
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(path);
    if (out) {
        for (const BoardRun& run : runs) out->WriteLine(FormatBoardRun(run));
    }
    if (media::CloseFile(out)) return true;
    engine::WriteLog("\tBoard: the queue " + path + " cannot be written");
    return false;
}

bool IsWaiting(const BoardRun& run, const std::string& server) {
    return run.state == BoardState::kQueued ||
           (run.state == BoardState::kPending && run.server == server);
}

void MergeBoardRun(std::vector<BoardRun>& runs, const BoardRun& run) {
    for (BoardRun& r : runs) {
        if (r.replay == run.replay) {
            r = run;
            return;
        }
    }
    runs.push_back(run);
}

ShareResult ExchangeRun(const std::string& server, const std::string& token, const BoardRun& run,
                        const std::string& replayBytes, const ShareLimits& limits,
                        const std::atomic<bool>& stop) {
    ShareResult out;
    out.run = run;
    out.run.server = server;
    if (run.state == BoardState::kRefused) return out;  // a refused run is never sent again
    const auto request = [&](const std::string& method, const std::string& path) {
        media::THttpRequest r;
        r.method = method;
        r.url = ApiUrl(server, path);
        r.connectTimeoutMs = limits.connectMs;
        r.totalTimeoutMs = limits.requestMs;
        r.headers = {"Accept: application/json", "User-Agent: Zarquill"};
        return r;
    };

    if (out.run.id == 0 || out.run.state == BoardState::kQueued) {
        media::THttpRequest post = request("POST", "/api/v1/runs");
        post.headers.push_back("Authorization: Bearer " + token);
        post.headers.push_back("Content-Type: application/octet-stream");
        // curl would otherwise wait for a "100 Continue" before sending the body.
        post.headers.push_back("Expect:");
        post.body = replayBytes;
        const media::THttpResponse r = media::HttpFetch(post, &stop);
        if (r.status == 0) {
            out.problem = NoAnswer(r);
            return out;
        }
        if (r.status == 200 || r.status == 202) {
            const json j = ParseBody(r.body);
            const int64_t id = IdField(j, "id");
            if (id == 0) {
                out.problem = "the board's answer holds no run id";
                return out;
            }
            out.run.id = id;
            out.run.state = BoardState::kPending;
            out.run.reason.clear();
            TakeRunAnswer(j, out.run);
        } else if (r.status == 400 || r.status == 401 || r.status == 403 || r.status == 409 ||
                   r.status == 413) {
            out.run.state = BoardState::kRefused;
            // 409: the board holds this very game, sent first with another token.
            out.run.reason = r.status == 409 ? kCopyReason : ErrorReason(r);
            return out;
        } else if (r.status == 429) {
            out.retryAfterSeconds = r.retryAfterSeconds > 0 ? r.retryAfterSeconds : 0;
            out.problem = "the board asks to wait (" + ErrorReason(r) + ")";
            return out;
        } else {
            out.problem = "the board answered " + ErrorReason(r);
            return out;
        }
    }

    // Ask until the verdict is in or the wait is over; a pending run is asked
    // about again on the next try.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.verdictWaitMs);
    bool first = out.run.state != BoardState::kPending;  // an answer is already there
    while (out.run.state == BoardState::kPending || first) {
        first = false;
        if (out.run.state == BoardState::kPending) {
            const media::THttpResponse r = media::HttpFetch(
                request("GET", "/api/v1/runs/" + std::to_string(out.run.id)), &stop);
            if (r.status == 404) {
                // The board lost the run (a board started afresh): send it again next time.
                out.run.state = BoardState::kQueued;
                out.run.id = 0;
                out.problem = "the board no longer knows the run";
                return out;
            }
            if (r.status != 200) {
                out.problem = r.status == 0 ? NoAnswer(r) : "the board answered " + ErrorReason(r);
                return out;
            }
            TakeRunAnswer(ParseBody(r.body), out.run);
        } else {
            // The POST's answer gave no name or difficulty: ask once for them.
            const media::THttpResponse r = media::HttpFetch(
                request("GET", "/api/v1/runs/" + std::to_string(out.run.id)), &stop);
            if (r.status == 200) TakeRunAnswer(ParseBody(r.body), out.run);
        }
        if (out.run.state != BoardState::kPending) break;
        const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              deadline - std::chrono::steady_clock::now())
                                              .count());
        if (left <= 0 || !Wait(std::min(left, limits.verdictPollMs), stop)) return out;
    }

    return out;
}

std::string BoardStateText(const BoardRun& run) {
    switch (run.state) {
        case BoardState::kQueued:
            return "Board: not sent yet";
        case BoardState::kPending:
            // The game's fonts hold ISO 8859-1 only, which has no ellipsis character.
            return "Board: checking...";
        case BoardState::kVerified:
            if (run.rank > 0) {
                return "Board: rank " + std::to_string(run.rank) + " on " +
                       DifficultyText(run.difficulty);
            }
            return "Board: verified on " + DifficultyText(run.difficulty);
        case BoardState::kRejected:
        case BoardState::kRefused:
            return "Board: refused (" + Utf8ToLatin1(run.reason) + ")";
    }
    return "";
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size()) {
            out += '?';
            ++i;
            continue;
        }
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += cp < 256 ? static_cast<char>(cp) : '?';
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------
// The game's background sharing.

namespace {

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

// Returns the notice for a run's outcome ("Zoë - Board: rank 3 on Hard").
std::string OutcomeNotice(const BoardRun& run) {
    const std::string name = Utf8ToLatin1(run.name);
    return (name.empty() ? std::string() : name + " - ") + BoardStateText(run);
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
