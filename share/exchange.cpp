// One exchange with a board: post the replay, wait for the verdict, read the
// run's rank. Once the board has given a run an id it is never posted again,
// only asked about.
#include "share/exchange.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <thread>

#include "engine/http/http_client.h"
#include "share/share_text.h"

namespace scores {

namespace {

using nlohmann::json;
using share_text::IdField;
using share_text::StringField;
using Deadline = std::chrono::steady_clock::time_point;

// How often a wait looks at the stop flag.
constexpr int kStopCheckMs = 50;
// Why a run the board holds as another player's game is refused (the panel shows it).
constexpr const char* kCopyReason = "a copy of another player's run";
// The longest reason kept from a board's answer.
constexpr size_t kMaxReasonChars = 200;

// Returns the JSON of an answer's body, or a discarded value for anything else.
json ParseBody(const std::string& body) {
    return json::parse(body, nullptr, false);
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

// The requests of one exchange: one board, one set of time limits.
struct Requests {
    const std::string& server;
    const ShareLimits& limits;
    const std::atomic<bool>& stop;

    // Returns a request for an API path, with the exchange's time limits.
    media::THttpRequest Make(const std::string& method, const std::string& path) const {
        std::string base = server;
        while (!base.empty() && base.back() == '/') base.pop_back();
        media::THttpRequest r;
        r.method = method;
        r.url = base + path;
        r.connectTimeoutMs = limits.connectMs;
        r.totalTimeoutMs = limits.requestMs;
        r.headers = {"Accept: application/json", "User-Agent: Zarquill"};
        return r;
    }
    // Returns the board's answer about a run it holds.
    media::THttpResponse AskAbout(int64_t id) const {
        return media::HttpFetch(Make("GET", "/api/v1/runs/" + std::to_string(id)), &stop);
    }
};

// Posts the replay: the run gets the board's id and first state, or is refused, or the
// problem is set. Returns false when the exchange ends here.
bool PostRun(const Requests& req, const std::string& token, const std::string& replayBytes,
             ShareResult& out) {
    media::THttpRequest post = req.Make("POST", "/api/v1/runs");
    post.headers.push_back("Authorization: Bearer " + token);
    post.headers.push_back("Content-Type: application/octet-stream");
    // curl would otherwise wait for a "100 Continue" before sending the body.
    post.headers.push_back("Expect:");
    post.body = replayBytes;
    const media::THttpResponse r = media::HttpFetch(post, &req.stop);
    if (r.status == 0) {
        out.problem = NoAnswer(r);
        return false;
    }
    if (r.status == 200 || r.status == 202) {
        const json j = ParseBody(r.body);
        const int64_t id = IdField(j, "id");
        if (id == 0) {
            out.problem = "the board's answer holds no run id";
            return false;
        }
        out.run.id = id;
        out.run.state = BoardState::kPending;
        out.run.reason.clear();
        TakeRunAnswer(j, out.run);
        return true;
    }
    if (r.status == 400 || r.status == 401 || r.status == 403 || r.status == 409 ||
        r.status == 413) {
        out.run.state = BoardState::kRefused;
        // 409: the board holds this very game, sent first with another token.
        out.run.reason = r.status == 409 ? kCopyReason : ErrorReason(r);
    } else if (r.status == 429) {
        out.retryAfterSeconds = r.retryAfterSeconds > 0 ? r.retryAfterSeconds : 0;
        out.problem = "the board asks to wait (" + ErrorReason(r) + ")";
    } else {
        out.problem = "the board answered " + ErrorReason(r);
    }
    return false;
}

// Reads the rank, name and difficulty of a run the board has settled (its POST's
// answer may give none of them): one question, its failure harmless.
void ReadSettledRun(const Requests& req, BoardRun& run) {
    const media::THttpResponse r = req.AskAbout(run.id);
    if (r.status == 200) TakeRunAnswer(ParseBody(r.body), run);
}

// Sleeps until the next question about a pending run; false when the wait is over or stopped.
bool WaitToAskAgain(const Requests& req, Deadline deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return left > 0 && Wait(std::min(static_cast<int>(left), req.limits.verdictPollMs), req.stop);
}

// Asks about a pending run until the verdict is in or the wait is over; a run
// still pending then is asked about again on the next try.
void AwaitVerdict(const Requests& req, Deadline deadline, ShareResult& out) {
    for (;;) {
        const media::THttpResponse r = req.AskAbout(out.run.id);
        if (r.status == 404) {
            // The board lost the run (a board started afresh): send it again next time.
            out.run.state = BoardState::kQueued;
            out.run.id = 0;
            out.problem = "the board no longer knows the run";
            return;
        }
        if (r.status != 200) {
            out.problem = r.status == 0 ? NoAnswer(r) : "the board answered " + ErrorReason(r);
            return;
        }
        TakeRunAnswer(ParseBody(r.body), out.run);
        if (out.run.state != BoardState::kPending || !WaitToAskAgain(req, deadline)) return;
    }
}

}  // namespace

ShareResult ExchangeRun(const std::string& server, const std::string& token, const BoardRun& run,
                        const std::string& replayBytes, const ShareLimits& limits,
                        const std::atomic<bool>& stop) {
    ShareResult out;
    out.run = run;
    out.run.server = server;
    if (run.state == BoardState::kRefused) return out;  // a refused run is never sent again
    const Requests req{server, limits, stop};
    if (out.run.id == 0 || out.run.state == BoardState::kQueued) {
        if (!PostRun(req, token, replayBytes, out)) return out;
    }
    const Deadline deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.verdictWaitMs);
    if (out.run.state != BoardState::kPending) {
        ReadSettledRun(req, out.run);
        if (out.run.state != BoardState::kPending || !WaitToAskAgain(req, deadline)) return out;
    }
    AwaitVerdict(req, deadline, out);
    return out;
}

}  // namespace scores
