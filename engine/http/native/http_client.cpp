// HTTP over libcurl's multi interface: the transfer is driven in short polls
// so that a cancel is seen within kCancelPollMs, whatever the network does.
#include "engine/http/http_client.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>
#include <mutex>

namespace media {

namespace {

// How long one wait for network activity lasts before the cancel flag is looked at again.
constexpr int kCancelPollMs = 50;

// What the callbacks fill in while a transfer runs.
struct Transfer {
    std::string body;
    size_t maxBytes = 0;
    bool tooLarge = false;
    int retryAfter = -1;
};

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    if (t.body.size() + n > t.maxBytes) {
        t.tooLarge = true;
        return 0;  // ends the transfer with a write error
    }
    t.body.append(data, n);
    return n;
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const size_t n = size * count;
    const std::string line(data, n);
    static const std::string kName = "retry-after:";
    if (line.size() > kName.size()) {
        bool match = true;
        for (size_t i = 0; i < kName.size() && match; ++i) {
            match = std::tolower(static_cast<unsigned char>(line[i])) == kName[i];
        }
        if (match) {
            // Seconds only; an HTTP date leaves the caller's own wait in place.
            size_t i = kName.size();
            while (i < line.size() && line[i] == ' ') ++i;
            long value = 0;
            bool digits = false;
            while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) &&
                   value < 1000000) {
                value = value * 10 + (line[i++] - '0');
                digits = true;
            }
            t.retryAfter = digits ? static_cast<int>(value) : -1;
        }
    }
    return n;
}

struct EasyDeleter {
    void operator()(CURL* e) const { curl_easy_cleanup(e); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};
struct ListDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

THttpResponse Failure(THttpError error, std::string text) {
    THttpResponse r;
    r.error = error;
    r.errorText = std::move(text);
    return r;
}

}  // namespace

THttpResponse HttpFetch(const THttpRequest& request, const std::atomic<bool>* cancel) {
    InitCurlOnce();
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) return Failure(THttpError::kOther, "the HTTP library could not start");

    Transfer transfer;
    transfer.maxBytes = request.maxResponseBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    std::unique_ptr<curl_slist, ListDeleter> headers;
    for (const std::string& h : request.headers) {
        curl_slist* grown = curl_slist_append(headers.get(), h.c_str());
        if (!grown) return Failure(THttpError::kOther, "out of memory");
        headers.release();
        headers.reset(grown);
    }
    CURL* e = easy.get();
    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(request.totalTimeoutMs));
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer);
    if (headers) curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    if (request.method == "POST") {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    } else if (request.method != "GET") {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        if (!request.body.empty()) {
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data());
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body.size()));
        }
    }

    curl_multi_add_handle(multi.get(), e);
    int running = 1;
    bool cancelled = false;
    while (running > 0) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
        if (running == 0) break;
        if (cancel && cancel->load()) {
            cancelled = true;
            break;
        }
        curl_multi_poll(multi.get(), nullptr, 0, kCancelPollMs, nullptr);
    }
    CURLcode code = CURLE_OK;
    bool finished = false;
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi.get(), &left)) {
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == e) {
            code = msg->data.result;
            finished = true;
        }
    }
    curl_multi_remove_handle(multi.get(), e);

    if (cancelled) return Failure(THttpError::kCancelled, "cancelled");
    if (!finished) return Failure(THttpError::kOther, "the transfer did not finish");
    if (code != CURLE_OK) {
        const std::string text = errorBuffer[0] ? errorBuffer : curl_easy_strerror(code);
        switch (code) {
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY:
            case CURLE_COULDNT_CONNECT:
                return Failure(THttpError::kConnect, text);
            case CURLE_OPERATION_TIMEDOUT:
                return Failure(THttpError::kTimeout, text);
            case CURLE_WRITE_ERROR:
                if (transfer.tooLarge) {
                    return Failure(THttpError::kTooLarge, "the answer is too long");
                }
                return Failure(THttpError::kOther, text);
            default:
                return Failure(THttpError::kOther, text);
        }
    }
    THttpResponse r;
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    r.status = static_cast<int>(status);
    r.body = std::move(transfer.body);
    r.retryAfterSeconds = transfer.retryAfter;
    return r;
}

TBackgroundWorker::~TBackgroundWorker() {
    Stop();
}

void TBackgroundWorker::Post(Task task) {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    tasks_.push_back(std::move(task));
    if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
    wake_.notify_one();
}

bool TBackgroundWorker::Busy() const {
    std::lock_guard lock(mutex_);
    return running_ || !tasks_.empty();
}

void TBackgroundWorker::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        stop_ = true;
        tasks_.clear();
        wake_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

void TBackgroundWorker::Run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stopped_ || !tasks_.empty(); });
        if (stopped_) return;
        Task task = std::move(tasks_.front());
        tasks_.pop_front();
        running_ = true;
        lock.unlock();
        task(stop_);
        lock.lock();
        running_ = false;
    }
}

}  // namespace media
