// The routes of the board's API: parse, call storage, answer in JSON.
#include "board/routes.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>

#include "board/hashes.h"
#include "board/limits.h"
#include "board/log.h"
#include "board/names.h"
#include "board/url.h"
#include "board/web_files.h"
#include "game/replay_file.h"
#include "scores/board_token.h"
#include "scores/fields/date_time.h"
#include "scores/replay_store.h"
#include "scores/scores.h"

namespace board {

namespace {

using nlohmann::json;

// Returns how to send a token, for a request without a good one.
std::string TokenRule() {
    return "send 'Authorization: Bearer TOKEN' with a token of " +
           std::to_string(scores::kMinTokenChars) + " to " +
           std::to_string(scores::kMaxTokenChars) + " letters, digits, '-' and '_'";
}

Response JsonResponse(int status, const json& body) {
    // Stored text is not trusted to be UTF-8 (runs stored by older versions):
    // dump replaces what is not, and never throws.
    Response r;
    r.status = status;
    r.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

Response MethodNotAllowed(const char* allow) {
    Response r = ErrorResponse(405, std::string("method not allowed here (use ") + allow + ")");
    r.headers.emplace_back("Allow", allow);
    return r;
}

// Parses a whole decimal number in [min, max]; false for anything else.
bool ParseNumber(const std::string& text, int64_t min, int64_t max, int64_t& out) {
    if (text.empty() || text.size() > 18) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out >= min && out <= max;
}

// Returns the decoded value of a query parameter (the first one given), or nullopt.
std::optional<std::string> QueryValue(const Request& request, const std::string& key) {
    for (const auto& [k, v] : request.query) {
        std::string name, value;
        if (!PercentDecode(k, name, true) || name != key) continue;
        if (!PercentDecode(v, value, true)) return std::string("\x01");  // never a number
        return value;
    }
    return std::nullopt;
}

// Reads limit and offset; an error response when either is out of range.
std::optional<Response> PageOf(const Request& request, int& limit, int64_t& offset) {
    limit = kDefaultPageLimit;
    offset = 0;
    int64_t n = 0;
    if (auto v = QueryValue(request, "limit")) {
        if (!ParseNumber(*v, 1, kMaxPageLimit, n)) {
            return ErrorResponse(
                400, "limit must be a whole number from 1 to " + std::to_string(kMaxPageLimit));
        }
        limit = static_cast<int>(n);
    }
    if (auto v = QueryValue(request, "offset")) {
        if (!ParseNumber(*v, 0, kMaxPageOffset, offset)) {
            return ErrorResponse(
                400, "offset must be a whole number from 0 to " + std::to_string(kMaxPageOffset));
        }
    }
    return std::nullopt;
}

// Returns the date-time number (scores/fields/date_time.h) of a moment in UTC.
int64_t DateTimeNumberOf(int64_t epochMs) {
    const time_t seconds = static_cast<time_t>(epochMs / 1000);
    tm utc{};
    if (!gmtime_r(&seconds, &utc)) return 0;
    return scores::DateTimeNumber(utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                                  utc.tm_min, utc.tm_sec);
}

// Returns why a replay's header cannot be taken (nothing when it can), from
// the header alone: the steps are not unpacked for a run too long to rank.
std::optional<std::string> HeaderProblem(const game::ReplayHeader& h, int64_t nowMs) {
    if (h.frames > kMaxRunFrames) {
        return "the run is longer than the board's limit of " + RunLengthLimitText();
    }
    const std::string& version = h.programVersion;
    const bool printable =
        std::all_of(version.begin(), version.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (version.empty() || version.size() > kMaxProgramVersionChars || !printable) {
        return "the run's program version must be 1 to " + std::to_string(kMaxProgramVersionChars) +
               " printable ASCII characters";
    }
    const std::string date = IsoDate(h.timestamp);
    if (date.empty()) return "the run's date is not a date";
    const int64_t earliest =
        scores::DateTimeNumber(kEarliestRunYear, kEarliestRunMonth, kEarliestRunDay, 0, 0, 0);
    if (h.timestamp < earliest) {
        return "the run is dated " + date + ", before the game existed (" +
               IsoDate(earliest).substr(0, 10) + ")";
    }
    const int64_t aheadMs = int64_t{kMaxRunDateAheadHours} * 3600 * 1000;
    if (h.timestamp > DateTimeNumberOf(nowMs + aheadMs)) {
        return "the run is dated " + date + ", more than " + std::to_string(kMaxRunDateAheadHours) +
               " hours ahead of the server's clock";
    }
    return std::nullopt;
}

// Decodes a sent replay; the answer when it cannot be taken.
std::optional<Response> ReplayProblem(const std::string& body, int64_t nowMs,
                                      game::Replay& replay) {
    if (body.empty()) return ErrorResponse(400, "no replay in the request body");
    std::string error;
    game::ReplayHeader header;
    if (!game::DecodeReplayHeader(body, header, error)) {
        return ErrorResponse(400, "not a readable replay: " + error);
    }
    if (auto problem = HeaderProblem(header, nowMs)) return ErrorResponse(400, *problem);
    if (!IsTypableName(header.name)) {
        return ErrorResponse(400, header.name.empty()
                                      ? "the run has no name"
                                      : "the run's name holds characters the game cannot type");
    }
    if (!game::DecodeReplay(body, replay, error)) {
        return ErrorResponse(400, "not a readable replay: " + error);
    }
    return std::nullopt;
}

// Returns the run to store for a decoded replay sent under a token's hash.
NewRun RunToStore(const std::string& body, game::Replay replay, std::string tokenHash,
                  int64_t nowMs) {
    const game::ReplayHeader& h = replay.header;
    NewRun run;
    run.replayBytes = body;
    run.replayHash = Sha256Hex(body);
    run.name = NameToUtf8(h.name);
    run.nameKey = NameKey(h.name);
    run.tokenHash = std::move(tokenHash);
    run.difficulty = h.difficulty;
    run.claimedScore = h.score;
    run.frames = h.frames;
    run.timestamp = h.timestamp;
    run.receivedAt = nowMs;
    run.checks = std::move(replay.checks);
    return run;
}

// Returns the answer to a submission that stored nothing new.
Response Refusal(const SubmitResult& result, const NewRun& run) {
    if (result.outcome == SubmitOutcome::NameTaken) {
        return ErrorResponse(403, "the name '" + run.name + "' belongs to another token");
    }
    if (result.outcome == SubmitOutcome::Existing) {
        return JsonResponse(200,
                            {{"id", result.run.id}, {"state", RunStateName(result.run.state)}});
    }
    const std::string original = std::to_string(result.run.id);
    const std::string what = result.outcome == SubmitOutcome::OpeningCopy
                                 ? "starts with the scoring play of run " + original
                                 : "plays the same game as run " + original;
    Log("run refused: '" + run.name + "' on " + DifficultyName(run.difficulty) + " " + what);
    return JsonResponse(409, {{"error", "this run " + what + ", sent first by another player"},
                              {"original", result.run.id}});
}

// Appends a text as a JSON string: quotes, backslashes and control
// characters escaped, and bytes that are not UTF-8 (text stored by older
// versions is not trusted to be) written as U+FFFD.
void AppendJsonText(std::string& out, const std::string& text) {
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (size_t i = 0; i < text.size();) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u >= 0x80) {
            // A whole well-formed sequence is copied, anything else replaced byte by byte.
            const size_t n = u >= 0xC2 && u <= 0xDF   ? 2
                             : u >= 0xE0 && u <= 0xEF ? 3
                             : u >= 0xF0 && u <= 0xF4 ? 4
                                                      : 0;
            bool good = n != 0 && i + n <= text.size();
            for (size_t k = 1; good && k < n; ++k) {
                good = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
            }
            if (good && n >= 3) {
                const auto second = static_cast<unsigned char>(text[i + 1]);
                // Overlong forms, surrogates and values past U+10FFFF.
                good = !(u == 0xE0 && second < 0xA0) && !(u == 0xED && second >= 0xA0) &&
                       !(u == 0xF0 && second < 0x90) && !(u == 0xF4 && second >= 0x90);
            }
            if (good) {
                out.append(text, i, n);
                i += n;
            } else {
                out += "\xEF\xBF\xBD";
                ++i;
            }
            continue;
        }
        const char c = text[i++];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// Appends a whole number.
void AppendNumber(std::string& out, int64_t n) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, n).ptr;
    out.append(digits, end);
}

// Appends a run as the API shows it, with its place on the ranking (keys in
// alphabetical order); written straight out, not built as a tree, as pages are.
void AppendRun(std::string& out, const Run& run, const RankingSnapshot& ranking) {
    const std::optional<int64_t> rank = ranking.RankOf(run);
    const bool rejected = run.state == RunState::Rejected;
    const auto maybe = [&out](const std::optional<int64_t>& n) {
        if (n) {
            AppendNumber(out, *n);
        } else {
            out += "null";
        }
    };
    out += "{\"claimed_score\":";
    AppendNumber(out, run.claimedScore);
    out += ",\"date\":\"";
    out += IsoDate(run.timestamp);
    out += "\",\"difficulty\":\"";
    out += DifficultyName(run.difficulty);
    out += '"';
    if (rejected) {
        out += ",\"first_bad_step\":";
        maybe(run.firstBadStep);
    }
    out += ",\"frames\":";
    AppendNumber(out, run.frames);
    out += ",\"id\":";
    AppendNumber(out, run.id);
    out += ",\"name\":";
    AppendJsonText(out, run.name);
    out += ",\"rank\":";
    maybe(rank);
    if (rejected) {
        out += ",\"reason\":";
        AppendJsonText(out, run.reason);
    }
    // The simulated score, once it proved the claim.
    out += ",\"score\":";
    maybe(run.state == RunState::Verified ? run.score : std::nullopt);
    out += ",\"state\":\"";
    out += RunStateName(run.state);
    out += "\"}";
}

// Returns the decoded segments of a path ("/a/b" gives {"a", "b"}); false
// when it does not start with "/" or holds a malformed escape.
bool SplitPath(const std::string& path, std::vector<std::string>& segments) {
    if (path.empty() || path[0] != '/') return false;
    size_t start = 1;
    while (true) {
        const size_t end = path.find('/', start);
        std::string segment;
        if (!PercentDecode(path.substr(start, end == std::string::npos ? end : end - start),
                           segment, false)) {
            return false;
        }
        segments.push_back(std::move(segment));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return true;
}

}  // namespace

Response ErrorResponse(int status, const std::string& message) {
    // Messages may quote what a client sent: dump replaces invalid UTF-8.
    Response r;
    r.status = status;
    r.body = json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

const char* DifficultyName(int difficulty) {
    static const char* const kNames[] = {"easy", "medium", "hard"};
    return difficulty >= 0 && difficulty < 3 ? kNames[difficulty] : "unknown";
}

std::string IsoUtc(int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    char text[32];
    if (!gmtime_r(&seconds, &utc) ||
        !std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc)) {
        return "";
    }
    return text;
}

std::string IsoDate(int64_t timestamp) {
    if (timestamp <= 0) return "";
    const scores::DateTimeParts p = scores::SplitDateTime(timestamp);
    if (p.day < 1 || p.month < 1 || p.year < 1 || p.year > 9999) return "";
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (p.year % 4 == 0 && p.year % 100 != 0) || p.year % 400 == 0;
    if (p.day > kDays[p.month - 1] || (p.month == 2 && p.day == 29 && !leap)) return "";
    // Written by hand: a board page writes fifty of these, and printf's
    // formatting was a tenth of its cost.
    std::string text = "0000-00-00T00:00:00";
    const auto put = [&text](size_t at, int64_t value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10) {
            text[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
        }
    };
    put(0, p.year, 4);
    put(5, p.month, 2);
    put(8, p.day, 2);
    put(11, p.hour, 2);
    put(14, p.minute, 2);
    put(17, p.second, 2);
    return text;
}

Api::Api(Storage& storage, Metrics& metrics, std::function<int64_t()> nowMs,
         std::function<int64_t()> monotonicMs)
    : storage_(storage),
      metrics_(metrics),
      nowMs_(std::move(nowMs)),
      monotonicMs_(monotonicMs ? std::move(monotonicMs) : MonotonicMs),
      limiter_(kSubmitBurst, kSubmitsPerSecond, kMaxTrackedAddresses),
      serverKey_(storage.ServerKey()),
      ranking_(storage) {}

void Api::NoteVerdict() {
    try {
        ranking_.Refresh();
    } catch (const StorageError& e) {
        // The watcher reads it again within a second.
        Log(std::string("ranking: cannot read it after a verdict: ") + e.what());
    }
}

std::shared_ptr<const RankingSnapshot> Api::RankingFor(const std::vector<Run>& runs, bool mayRead) {
    std::shared_ptr<const RankingSnapshot> ranking = ranking_.Current();
    // Only a verdict newer than the last read can be missing from the ranking
    // (a run below its name's best is never on it): older runs cost no query.
    // The margin covers a verdict stamped before the read but committed after it.
    const int64_t seenUpTo = ranking_.LastReadMs() - kRankingCheckMs;
    const bool unranked = std::any_of(runs.begin(), runs.end(), [&](const Run& run) {
        return run.state == RunState::Verified && !run.hiddenAt && run.verifiedAt &&
               *run.verifiedAt >= seenUpTo && !ranking->RankOf(run);
    });
    if (!unranked) return ranking;
    if (!mayRead) return nullptr;
    ranking_.Refresh();
    return ranking_.Current();
}

Response Api::Handle(const Request& request) {
    try {
        return Route(request);
    } catch (const StorageError& e) {
        Log(std::string("storage: ") + e.what());
        Response r = ErrorResponse(503, "the board's database is not available; try again later");
        r.headers.emplace_back("Retry-After", std::to_string(kBusyRetrySeconds));
        return r;
    } catch (const std::exception& e) {
        Log(std::string("request failed: ") + e.what());
        return ErrorResponse(500, "internal error");
    }
}

bool Api::ReadsDatabase(const Request& request) {
    const std::string_view path = request.path;
    return (request.method == "GET" || request.method == "HEAD") &&
           (path.rfind("/api/v1/runs/", 0) == 0 || path.rfind("/api/v1/players/", 0) == 0);
}

Response Api::Route(const Request& request) {
    std::vector<std::string> seg;
    if (!SplitPath(request.path, seg)) return ErrorResponse(400, "malformed path");
    const std::string& m = request.method;
    const bool get = m == "GET" || m == "HEAD";
    const size_t n = seg.size();
    const auto api = [&](size_t count, const char* what) {
        return n == count + 2 && seg[0] == "api" && seg[1] == "v1" && seg[2] == what;
    };

    if (n == 1 && seg[0] == "healthz") return get ? Health() : MethodNotAllowed("GET");
    if (n == 1 && seg[0] == "metrics") {
        if (!get) return MethodNotAllowed("GET");
        Response r;
        r.contentType = "text/plain; version=0.0.4; charset=utf-8";
        r.body = metrics_.Render(storage_.CountPending());
        return r;
    }
    if (api(1, "runs")) return m == "POST" ? PostRun(request) : MethodNotAllowed("POST");
    if (api(2, "runs")) return get ? GetRun(seg[3], false) : MethodNotAllowed("GET");
    if (api(3, "runs") && seg[4] == "replay") {
        return get ? GetRun(seg[3], true) : MethodNotAllowed("GET");
    }
    if (api(2, "boards")) return get ? GetBoard(seg[3], request) : MethodNotAllowed("GET");
    if (api(2, "players")) return get ? GetPlayer(seg[3], request) : MethodNotAllowed("GET");
    if (webFiles_) {
        if (auto page = webFiles_->Find(request.path, request.acceptsGzip)) {
            return get ? *page : MethodNotAllowed("GET");
        }
    }
    return ErrorResponse(404, "no such page");
}

Response Api::Health() {
    if (!storage_.Healthy()) return ErrorResponse(503, "the board's database is not available");
    return JsonResponse(200, {{"status", "ok"}});
}

Response Api::PostRun(const Request& request) {
    const int64_t now = nowMs_();
    const std::string token = BearerToken(request.authorization);
    if (token.empty()) {
        Response r = ErrorResponse(401, "missing or malformed token: " + TokenRule());
        r.headers.emplace_back("WWW-Authenticate", "Bearer");
        return r;
    }
    if (request.bodyTooLarge || request.body.size() > kMaxBodyBytes) {
        return ErrorResponse(413, "the replay is larger than " + BodyLimitText());
    }
    // Counted once the sender has shown a token: what follows costs decoding and a write.
    if (const int wait = limiter_.Take(request.clientAddress, monotonicMs_()); wait > 0) {
        Response r = ErrorResponse(
            429, "too many runs from this address; wait " + std::to_string(wait) + " s");
        r.headers.emplace_back("Retry-After", std::to_string(wait));
        return r;
    }
    game::Replay replay;
    if (auto problem = ReplayProblem(request.body, now, replay)) return *problem;
    if (storage_.CountPending() >= kMaxPendingRuns) {
        Response r = ErrorResponse(503, "too many runs wait for verification; try again later");
        r.headers.emplace_back("Retry-After", std::to_string(kBusyRetrySeconds));
        return r;
    }
    const NewRun run =
        RunToStore(request.body, std::move(replay), TokenHash(serverKey_, token), now);
    const SubmitResult result = storage_.Submit(run);
    if (result.outcome != SubmitOutcome::Created) return Refusal(result, run);
    metrics_.CountReceived();
    Log("run " + std::to_string(result.run.id) + " received: '" + run.name + "' on " +
        DifficultyName(run.difficulty) + ", claims " + std::to_string(run.claimedScore));
    if (onSubmitted_) onSubmitted_();
    Response r = JsonResponse(202, {{"id", result.run.id}, {"state", "pending"}});
    r.headers.emplace_back("Location", "/api/v1/runs/" + std::to_string(result.run.id));
    return r;
}

Response Api::GetRun(const std::string& idText, bool replay) {
    int64_t id = 0;
    if (!ParseNumber(idText, 1, INT64_MAX, id)) return ErrorResponse(404, "no such run");
    const std::optional<Run> run = storage_.FindRun(id);
    if (!replay) return *RunPage(run, true);
    if (!run || run->hiddenAt) return ErrorResponse(404, "no such run");
    std::optional<std::string> bytes = storage_.ReplayBytes(id);
    if (!bytes) return ErrorResponse(404, "no such run");
    scores::Scores record;
    record.Score = run->claimedScore;
    record.Timestamp = run->timestamp;
    Response r;
    r.contentType = "application/octet-stream";
    r.body = std::move(*bytes);
    r.headers.emplace_back("Content-Disposition",
                           "attachment; filename=\"" + scores::ReplayFileName(record) + "\"");
    return r;
}

std::optional<Response> Api::RunPage(const std::optional<Run>& run, bool mayRead) {
    if (!run) return ErrorResponse(404, "no such run");
    if (run->hiddenAt) {
        // Runs are hidden for their names as often as for their play: the
        // public sees neither, only that the operator hid it and why.
        return JsonResponse(
            410, {{"error", "hidden by the board's operator"}, {"reason", run->hiddenReason}});
    }
    const auto ranking = RankingFor({*run}, mayRead);
    if (!ranking) return std::nullopt;
    Response r;
    AppendRun(r.body, *run, *ranking);
    return r;
}

Response Api::GetBoard(const std::string& difficulty, const Request& request) {
    int level = -1;
    for (int i = 0; i < 3; ++i) {
        if (difficulty == DifficultyName(i)) level = i;
    }
    if (level < 0) return ErrorResponse(404, "no such board (use easy, medium or hard)");
    int limit = 0;
    int64_t offset = 0;
    if (auto bad = PageOf(request, limit, offset)) return *bad;
    // Pages are the busiest answer: written straight out, not built as a tree.
    const std::shared_ptr<const RankingSnapshot> ranking = ranking_.Current();
    Response r;
    std::string& out = r.body;
    out.reserve(128 + static_cast<size_t>(limit) * 128);
    out += std::string("{\"difficulty\":\"") + DifficultyName(level) + "\",\"runs\":[";
    // Numbers are written in place: temporaries cost an allocation each.
    int64_t rank = offset;
    for (const RankedRun& e : ranking->Page(level, offset, limit)) {
        if (rank != offset) out += ',';
        out += "{\"rank\":";
        AppendNumber(out, ++rank);
        out += ",\"id\":";
        AppendNumber(out, e.id);
        out += ",\"name\":";
        AppendJsonText(out, e.name);
        out += ",\"score\":";
        AppendNumber(out, e.score);
        out += ",\"frames\":";
        AppendNumber(out, e.frames);
        out += ",\"date\":\"";
        out += IsoDate(e.timestamp);
        out += "\"}";
    }
    out += "]}";
    return r;
}

// Reads a player's page request: the name in the game's letters, the page's size and place.
std::optional<Response> PlayerPageOf(const std::string& name, const Request& request,
                                     std::string& latin1, int& limit, int64_t& offset) {
    if (!NameFromUtf8(name, latin1)) return ErrorResponse(400, "not a name the game can type");
    return PageOf(request, limit, offset);
}

Response Api::GetPlayer(const std::string& name, const Request& request) {
    std::string latin1;
    int limit = 0;
    int64_t offset = 0;
    if (auto bad = PlayerPageOf(name, request, latin1, limit, offset)) return *bad;
    return *PlayerPage(latin1, storage_.PlayerRuns(NameKey(latin1), limit, offset), true);
}

std::optional<Response> Api::PlayerPage(const std::string& latin1, const std::vector<Run>& found,
                                        bool mayRead) {
    const std::shared_ptr<const RankingSnapshot> ranking = RankingFor(found, mayRead);
    if (!ranking) return std::nullopt;
    Response r;
    std::string& out = r.body;
    out.reserve(64 + found.size() * 224);
    out += "{\"name\":";
    AppendJsonText(out, NameToUtf8(latin1));
    out += ",\"runs\":[";
    for (const Run& run : found) {
        if (&run != &found.front()) out += ',';
        AppendRun(out, run, *ranking);
    }
    out += "]}";
    return r;
}

bool Api::StartRead(ReadChannel& channel, const Request& request,
                    std::function<void(std::optional<Response>)> done) {
    std::vector<std::string> seg;
    if ((request.method != "GET" && request.method != "HEAD") || !SplitPath(request.path, seg) ||
        seg.size() != 4 || seg[0] != "api" || seg[1] != "v1") {
        return false;
    }
    // An answer that cannot be made here (a failed read, a ranking to read
    // first) is left to Handle, which reads again and answers any failure.
    const auto answer = [done](const std::function<std::optional<Response>()>& make) {
        std::optional<Response> r;
        try {
            r = make();
        } catch (const std::exception&) {
            r.reset();
        }
        done(std::move(r));
    };
    if (seg[2] == "runs") {
        int64_t id = 0;
        if (!ParseNumber(seg[3], 1, INT64_MAX, id)) return false;
        channel.FindRun(id, [this, answer](bool ok, std::optional<Run> run) {
            answer([&]() -> std::optional<Response> {
                if (!ok) return std::nullopt;
                return RunPage(run, false);
            });
        });
        return true;
    }
    if (seg[2] != "players") return false;
    std::string latin1;
    int limit = 0;
    int64_t offset = 0;
    if (PlayerPageOf(seg[3], request, latin1, limit, offset)) return false;
    channel.PlayerRuns(NameKey(latin1), limit, offset,
                       [this, answer, latin1](bool ok, std::vector<Run> found) {
                           answer([&]() -> std::optional<Response> {
                               if (!ok) return std::nullopt;
                               return PlayerPage(latin1, found, false);
                           });
                       });
    return true;
}

}  // namespace board
