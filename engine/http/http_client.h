// HTTP requests for the program's network features (sharing runs with a
// board): one request at a time, with a connect and a total time limit and a
// cancel flag that ends a request within a tenth of a second, plus the one
// worker thread that runs such requests away from the frame loop; and the
// requests the frame loop starts without waiting (TFetcher), run there by
// that worker and libcurl, and in the browser by the page's fetch(). Built
// into a library of its own, so only the programs that talk to the network
// link the HTTP library.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace media {

// One request. Only http and https URLs are followed; redirects are not.
struct THttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::string> headers;  // "Name: value" lines
    std::string body;                  // sent for any method but GET when not empty
    int connectTimeoutMs = 5000;
    int totalTimeoutMs = 20000;
    size_t maxResponseBytes = size_t{1} << 20;
};

// Why a request got no answer.
enum class THttpError {
    kNone,       // an answer arrived (any status)
    kConnect,    // the host was not found or refused the connection
    kTimeout,    // the connect or the total time limit passed
    kCancelled,  // the cancel flag was set
    kTooLarge,   // the answer was longer than maxResponseBytes
    kOther,      // anything else (TLS, a malformed answer, a bad URL)
};

// The answer to one request.
struct THttpResponse {
    int status = 0;  // the HTTP status; 0 when no answer arrived
    std::string body;
    int retryAfterSeconds = -1;  // the Retry-After header in seconds; -1 when absent or a date
    THttpError error = THttpError::kNone;
    std::string errorText;  // one line saying what went wrong ("" when an answer arrived)
};

// Performs one request and waits for its answer; returns early (kCancelled)
// soon after *cancel becomes true. Never throws. Note: the browser cannot
// wait on its main thread, and there every call answers kOther.
THttpResponse HttpFetch(const THttpRequest& request, const std::atomic<bool>* cancel = nullptr);

// Requests started without waiting, one after another in the order started:
// on the desktop on a worker thread through libcurl, in the browser through
// fetch() (same origin only; a request to another origin is refused with
// kOther). Every call is made on one thread (the frame loop's), and each
// answer is handed to its callback there, inside Poll, never inside Start.
class TFetcher {
  public:
    using Callback = std::function<void(const THttpResponse&)>;

    TFetcher();
    // Cancels what still runs; callbacks not yet called are never called.
    ~TFetcher();
    TFetcher(const TFetcher&) = delete;
    TFetcher& operator=(const TFetcher&) = delete;

    // Starts a request; done gets its answer from a later Poll.
    void Start(const THttpRequest& request, Callback done);
    // Hands every answer that has arrived to its callback; returns how many.
    int Poll();
    // Returns true while a started request has not been handed to its callback.
    bool Busy() const;
    // Ends every request soon (the running one within a tenth of a second):
    // each not yet answered gets kCancelled at the next Poll.
    void Cancel();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A thread that runs posted tasks one after another. Each task gets the
// worker's stop flag, which it passes on to HttpFetch.
class TBackgroundWorker {
  public:
    using Task = std::function<void(const std::atomic<bool>& stop)>;

    TBackgroundWorker() = default;
    // Stops the worker (see Stop).
    ~TBackgroundWorker();
    TBackgroundWorker(const TBackgroundWorker&) = delete;
    TBackgroundWorker& operator=(const TBackgroundWorker&) = delete;

    // Queues a task, starting the thread on first use; ignored after Stop.
    void Post(Task task);
    // Returns true while a task runs or waits.
    bool Busy() const;
    // Sets the stop flag, drops the tasks still waiting and waits for the
    // running one to return.
    void Stop();

  private:
    void Run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Task> tasks_;
    bool running_ = false;  // a task is being run
    bool stopped_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace media
