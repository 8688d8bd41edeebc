// The board's HTTP API as a plain function from request to response, with no
// network in it: the HTTP layer fills a Request, the routes call storage and
// answer. The fuzz target and the unit tests call HandleRequest directly.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "board/metrics.h"
#include "board/ranking.h"
#include "board/rate_limit.h"
#include "board/storage.h"

namespace board {

class WebFiles;

// One request as received. The path and the query are still percent-encoded.
struct Request {
    std::string method;
    std::string path;
    std::vector<std::pair<std::string, std::string>> query;
    std::string authorization;  // the Authorization header ("" when absent)
    std::string body;
    bool bodyTooLarge = false;  // the HTTP layer stopped reading past the cap
    std::string clientAddress;
    bool acceptsGzip = false;  // Accept-Encoding allows gzip
};

struct Response {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    // A body kept elsewhere and sent as it is instead of `body` (the page's static files).
    std::shared_ptr<const std::string> sharedBody;
    std::vector<std::pair<std::string, std::string>> headers;
};

// The service behind the routes: storage, counters, the submission limiter,
// the clock and whom to tell of new runs.
class Api {
  public:
    // Makes the API over a storage (reading its server key); nowMs returns
    // milliseconds since the epoch, monotonicMs (the rate limiter's clock, a
    // monotonic one when not given) milliseconds from any fixed start.
    Api(Storage& storage, Metrics& metrics, std::function<int64_t()> nowMs,
        std::function<int64_t()> monotonicMs = {});

    // Sets what is called after a new run is stored (the workers' wake-up).
    void OnSubmitted(std::function<void()> call) { onSubmitted_ = std::move(call); }
    // Serves the web page's files (kept by the caller) beside the API.
    void ServeWebFiles(const WebFiles* files) { webFiles_ = files; }
    // Answers one request; never throws.
    Response Handle(const Request& request);
    // Returns true when answering request reads the database (a run's page
    // or replay, a player's page) rather than what the server holds in memory.
    static bool ReadsDatabase(const Request& request);
    // Returns a channel for reads that must not block their thread (null when
    // the storage's reads are as good in place); throws StorageError.
    std::unique_ptr<ReadChannel> OpenReadChannel() { return storage_.OpenReadChannel(); }
    // Starts answering a run's page or a player's page through channel, which
    // calls done later on the channel's thread: with the answer, or with
    // nothing when Handle should answer instead (the read failed, or the
    // ranking must be read first). False, and done never called, for any
    // other request, or one whose answer needs no read: Handle answers those.
    bool StartRead(ReadChannel& channel, const Request& request,
                   std::function<void(std::optional<Response>)> done);
    // Notes that a verdict was stored here: the boards show it at once.
    void NoteVerdict();
    // Loads the boards and keeps them up with changes other servers or an
    // operator make (checked every kRankingCheckMs).
    void WatchRanking() { ranking_.Watch(); }
    // Stops watching the ranking: nothing of the API reads storage on its own after this.
    void StopWatching() { ranking_.Stop(); }

  private:
    Response Route(const Request& request);
    Response PostRun(const Request& request);
    Response GetRun(const std::string& idText, bool replay);
    Response GetBoard(const std::string& difficulty, const Request& request);
    Response GetPlayer(const std::string& name, const Request& request);
    // The page of a run as read, and of a player's runs as read; nothing when
    // the ranking must be read first and mayRead is false.
    std::optional<Response> RunPage(const std::optional<Run>& run, bool mayRead);
    std::optional<Response> PlayerPage(const std::string& latin1, const std::vector<Run>& found,
                                       bool mayRead);
    Response Health();
    // Returns the ranking to show runs with: read again first when one of
    // them is verified and shown but not ranked, and its verdict may be newer
    // than the mirror's last read (null instead when mayRead is false).
    std::shared_ptr<const RankingSnapshot> RankingFor(const std::vector<Run>& runs, bool mayRead);

    Storage& storage_;
    Metrics& metrics_;
    std::function<int64_t()> nowMs_;
    std::function<int64_t()> monotonicMs_;
    RateLimiter limiter_;
    std::function<void()> onSubmitted_;
    const WebFiles* webFiles_ = nullptr;
    const std::string serverKey_;
    // Boards and ranks are read from this mirror, never from the database.
    Ranking ranking_;
};

// Returns {"error": message} with the status.
Response ErrorResponse(int status, const std::string& message);
// Returns the difficulty's name on the wire ("easy", "medium", "hard").
const char* DifficultyName(int difficulty);
// Returns milliseconds since the epoch as an ISO 8601 UTC time ("2026-12-08T14:03:22Z").
std::string IsoUtc(int64_t ms);
// Returns a date-time number as ISO 8601 ("2026-12-08T14:03:22"; "" when it is no date).
std::string IsoDate(int64_t timestamp);

}  // namespace board
