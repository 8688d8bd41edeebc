// HTTP in the browser build: requests go out through the page's fetch()
// (fetch.js) and are polled for; the browser's main thread cannot wait, so
// the waiting form answers at once that it is not available.
#include <cstdint>
#include <string>
#include <utility>

#include "engine/http/http_client.h"

extern "C" {
// The script side (fetch.js); see there.
int zqhttp_start(const char* method, const char* url, const char* headers, const char* body,
                 int bodySize, int timeoutMs, double maxBytes);
int zqhttp_state(int id);
int zqhttp_status(int id);
int zqhttp_error(int id);
int zqhttp_retry_after(int id);
int zqhttp_body_size(int id);
void zqhttp_body(int id, char* out);
int zqhttp_error_text(int id, char* out, int size);
void zqhttp_abort(int id);
void zqhttp_forget(int id);
}

namespace media {

namespace {

// The longest error text taken from the page.
constexpr int kErrorTextBytes = 256;

// Reads a finished request's answer from the page.
THttpResponse TakeAnswer(int id) {
    THttpResponse r;
    r.status = zqhttp_status(id);
    r.error = static_cast<THttpError>(zqhttp_error(id));
    r.retryAfterSeconds = zqhttp_retry_after(id);
    r.body.resize(static_cast<size_t>(zqhttp_body_size(id)));
    if (!r.body.empty()) zqhttp_body(id, r.body.data());
    char text[kErrorTextBytes];
    const int n = zqhttp_error_text(id, text, kErrorTextBytes);
    r.errorText.assign(text, static_cast<size_t>(n > 0 ? n : 0));
    zqhttp_forget(id);
    return r;
}

}  // namespace

THttpResponse HttpFetch(const THttpRequest&, const std::atomic<bool>*) {
    THttpResponse r;
    r.error = THttpError::kOther;
    r.errorText = "the browser cannot wait for a request; it is started with TFetcher";
    return r;
}

struct TFetcher::Impl {
    std::map<int, Callback> waiting;  // the page's request number -> its callback
};

TFetcher::TFetcher() : impl_(std::make_unique<Impl>()) {}

TFetcher::~TFetcher() {
    for (const auto& entry : impl_->waiting) {
        zqhttp_abort(entry.first);
        zqhttp_forget(entry.first);
    }
}

void TFetcher::Start(const THttpRequest& request, Callback done) {
    std::string headers;
    for (const std::string& h : request.headers) headers += h + "\n";
    const int id = zqhttp_start(request.method.c_str(), request.url.c_str(), headers.c_str(),
                                request.body.data(), static_cast<int>(request.body.size()),
                                request.totalTimeoutMs, static_cast<double>(request.maxResponseBytes));
    impl_->waiting.emplace(id, std::move(done));
}

int TFetcher::Poll() {
    int handed = 0;
    for (auto it = impl_->waiting.begin(); it != impl_->waiting.end();) {
        if (zqhttp_state(it->first) == 0) {
            ++it;
            continue;
        }
        const THttpResponse answer = TakeAnswer(it->first);
        Callback done = std::move(it->second);
        it = impl_->waiting.erase(it);
        // The callback may start another request; it is polled next time.
        done(answer);
        ++handed;
    }
    return handed;
}

bool TFetcher::Busy() const {
    return !impl_->waiting.empty();
}

void TFetcher::Cancel() {
    for (const auto& entry : impl_->waiting) zqhttp_abort(entry.first);
}

}  // namespace media
