// Requests started without waiting, on the desktop: each runs on the one
// worker thread through HttpFetch, and its answer waits in a mailbox until
// the frame loop polls.
#include <utility>
#include <vector>

#include "engine/http/http_client.h"

namespace media {

namespace {

// Answers handed from the worker thread to the polling thread, by request number.
struct Mailbox {
    std::mutex mutex;
    std::vector<std::pair<int, THttpResponse>> arrived;
};

}  // namespace

struct TFetcher::Impl {
    std::shared_ptr<Mailbox> mailbox = std::make_shared<Mailbox>();
    std::unique_ptr<TBackgroundWorker> worker;
    std::map<int, Callback> waiting;  // requests started and not yet handed over
    int next = 1;
};

TFetcher::TFetcher() : impl_(std::make_unique<Impl>()) {}

TFetcher::~TFetcher() {
    if (impl_->worker) impl_->worker->Stop();
}

void TFetcher::Start(const THttpRequest& request, Callback done) {
    const int id = impl_->next++;
    impl_->waiting.emplace(id, std::move(done));
    if (!impl_->worker) impl_->worker = std::make_unique<TBackgroundWorker>();
    impl_->worker->Post([request, id, mailbox = impl_->mailbox](const std::atomic<bool>& stop) {
        THttpResponse response = HttpFetch(request, &stop);
        std::lock_guard lock(mailbox->mutex);
        mailbox->arrived.emplace_back(id, std::move(response));
    });
}

int TFetcher::Poll() {
    std::vector<std::pair<int, THttpResponse>> arrived;
    {
        std::lock_guard lock(impl_->mailbox->mutex);
        arrived.swap(impl_->mailbox->arrived);
    }
    int handed = 0;
    for (auto& [id, response] : arrived) {
        auto it = impl_->waiting.find(id);
        if (it == impl_->waiting.end()) continue;
        // Taken out first: the callback may start the next request.
        Callback done = std::move(it->second);
        impl_->waiting.erase(it);
        done(response);
        ++handed;
    }
    return handed;
}

bool TFetcher::Busy() const {
    return !impl_->waiting.empty();
}

void TFetcher::Cancel() {
    if (impl_->worker) {
        // The running request ends within a tenth of a second; waiting ones are dropped.
        impl_->worker->Stop();
        impl_->worker.reset();
    }
    std::lock_guard lock(impl_->mailbox->mutex);
    for (const auto& entry : impl_->waiting) {
        bool answered = false;
        for (const auto& a : impl_->mailbox->arrived) answered = answered || a.first == entry.first;
        if (answered) continue;
        THttpResponse cancelled;
        cancelled.error = THttpError::kCancelled;
        cancelled.errorText = "cancelled";
        impl_->mailbox->arrived.emplace_back(entry.first, std::move(cancelled));
    }
}

}  // namespace media
