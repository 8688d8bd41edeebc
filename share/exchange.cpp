// One exchange with a board: post the replay, wait for the verdict, read the
// run's rank. Once the board has given a run an id it is never posted again,
// only asked about. The exchange only says which request comes next and what
// an answer means; who sends the requests, and how, is its caller's affair.
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

// Takes the answer to the POST of the replay: the run gets the board's id and
// first state, or is refused, or the problem is set. Returns false when the
// exchange ends here.
bool TakePostAnswer(const media::THttpResponse& r, ShareResult& out) {
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

}  // namespace

TRunExchange::TRunExchange(std::string server, std::string token, const BoardRun& run,
                           std::string replayBytes, const ShareLimits& limits,
                           Clock::time_point now)
    : server_(std::move(server)),
      token_(std::move(token)),
      replayBytes_(std::move(replayBytes)),
      limits_(limits) {
    out_.run = run;
    out_.run.server = server_;
    if (run.state == BoardState::kRefused) {
        step_ = Step::kDone;  // a refused run is never sent again
    } else if (out_.run.id == 0 || out_.run.state == BoardState::kQueued) {
        step_ = Step::kPost;
    } else {
        AfterPost(now);
    }
}

media::THttpRequest TRunExchange::Make(const std::string& method, const std::string& path) const {
    std::string base = server_;
    while (!base.empty() && base.back() == '/') base.pop_back();
    media::THttpRequest r;
    r.method = method;
    r.url = base + path;
    r.connectTimeoutMs = limits_.connectMs;
    r.totalTimeoutMs = limits_.requestMs;
    r.headers = {"Accept: application/json", "User-Agent: Zarquill"};
    return r;
}

// The run is with the board: a settled run's rank, name and difficulty are read
// once (its POST's answer may give none of them), a pending one is asked about
// until its verdict is in or verdictWaitMs has passed.
void TRunExchange::AfterPost(Clock::time_point now) {
    deadline_ = now + std::chrono::milliseconds(limits_.verdictWaitMs);
    step_ = out_.run.state != BoardState::kPending ? Step::kReadSettled : Step::kAwait;
}

// Waits before the next question about a pending run, or ends the exchange
// when the wait is over (a run still pending is asked about again next try).
void TRunExchange::WaitToAskAgain(Clock::time_point now) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - now).count();
    if (left <= 0) {
        step_ = Step::kDone;
        return;
    }
    wakeAt_ = now + std::chrono::milliseconds(std::min<int64_t>(left, limits_.verdictPollMs));
    step_ = Step::kAwait;
}

std::optional<media::THttpRequest> TRunExchange::NextRequest(Clock::time_point now) {
    if (step_ == Step::kDone || asking_ || now < wakeAt_) return std::nullopt;
    asking_ = true;
    if (step_ == Step::kPost) {
        media::THttpRequest post = Make("POST", "/api/v1/runs");
        post.headers.push_back("Authorization: Bearer " + token_);
        post.headers.push_back("Content-Type: application/octet-stream");
        // curl would otherwise wait for a "100 Continue" before sending the body.
        post.headers.push_back("Expect:");
        post.body = replayBytes_;
        return post;
    }
    return Make("GET", "/api/v1/runs/" + std::to_string(out_.run.id));
}

void TRunExchange::TakeAnswer(const media::THttpResponse& r, Clock::time_point now) {
    asking_ = false;
    switch (step_) {
        case Step::kPost:
            if (TakePostAnswer(r, out_)) {
                AfterPost(now);
            } else {
                step_ = Step::kDone;
            }
            return;
        case Step::kReadSettled:
            // One question, its failure harmless.
            if (r.status == 200) TakeRunAnswer(ParseBody(r.body), out_.run);
            break;
        case Step::kAwait:
            if (r.status == 404) {
                // The board lost the run (a board started afresh): send it again next time.
                out_.run.state = BoardState::kQueued;
                out_.run.id = 0;
                out_.problem = "the board no longer knows the run";
                step_ = Step::kDone;
                return;
            }
            if (r.status != 200) {
                out_.problem = r.status == 0 ? NoAnswer(r) : "the board answered " + ErrorReason(r);
                step_ = Step::kDone;
                return;
            }
            TakeRunAnswer(ParseBody(r.body), out_.run);
            break;
        case Step::kDone:
            return;
    }
    if (out_.run.state != BoardState::kPending) {
        step_ = Step::kDone;
    } else {
        WaitToAskAgain(now);
    }
}

ShareResult ExchangeRun(const std::string& server, const std::string& token, const BoardRun& run,
                        const std::string& replayBytes, const ShareLimits& limits,
                        const std::atomic<bool>& stop) {
    using Clock = TRunExchange::Clock;
    TRunExchange exchange(server, token, run, replayBytes, limits, Clock::now());
    while (!exchange.Done()) {
        if (std::optional<media::THttpRequest> request = exchange.NextRequest(Clock::now())) {
            exchange.TakeAnswer(media::HttpFetch(*request, &stop), Clock::now());
            continue;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              exchange.WakeAt() - Clock::now())
                              .count();
        if (!Wait(static_cast<int>(std::max<int64_t>(left, 0)), stop)) exchange.Finish();
    }
    return exchange.Result();
}

}  // namespace scores
