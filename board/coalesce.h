// Lookups that arrive together answered by one statement: a database a round
// trip away (PostgreSQL) spends far more on each statement than on each row,
// so many threads asking for one row each are served by one statement for
// all their rows.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <vector>

namespace board {

template <typename Key, typename Value>
class Coalescer {
  public:
    // Answers keys (at most maxKeys of them) in their order; throws to fail them all.
    using Lookup = std::function<std::vector<std::optional<Value>>(const std::vector<Key>&)>;

    // At most maxLeaders statements run at once, each for at most maxKeys keys.
    Coalescer(Lookup lookup, size_t maxKeys, size_t maxLeaders)
        : lookup_(std::move(lookup)),
          maxKeys_(std::max<size_t>(1, maxKeys)),
          maxLeaders_(std::max<size_t>(1, maxLeaders)) {}

    // Returns the value of key, looked up with the keys of the callers waiting
    // meanwhile; throws what the lookup threw. The first caller while fewer
    // than maxLeaders statements run takes the waiting keys and runs one
    // statement; the others wait for their answers or for a turn to lead.
    std::optional<Value> Get(const Key& key) {
        auto mine = std::make_shared<Slot>();
        mine->key = key;
        std::unique_lock lock(mutex_);
        waiting_.push_back(mine);
        while (!mine->done) {
            if (leaders_ >= maxLeaders_ || waiting_.empty()) {
                // Each caller sleeps on its own condition: a finished statement
                // wakes its own callers and one to lead next, not every thread.
                mine->wake.wait(lock);
                mine->called = false;
                continue;
            }
            ++leaders_;
            const size_t n = std::min(maxKeys_, waiting_.size());
            std::vector<std::shared_ptr<Slot>> batch(waiting_.begin(),
                                                     waiting_.begin() + static_cast<long>(n));
            waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<long>(n));
            lock.unlock();
            std::vector<Key> keys;
            keys.reserve(n);
            for (const auto& slot : batch) keys.push_back(slot->key);
            std::vector<std::optional<Value>> values;
            std::exception_ptr failure;
            try {
                values = lookup_(keys);
                if (values.size() != n) throw std::logic_error("a lookup lost keys");
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            for (size_t i = 0; i < n; ++i) {
                if (failure) {
                    batch[i]->failure = failure;
                } else {
                    batch[i]->value = std::move(values[i]);
                }
                batch[i]->done = true;
                batch[i]->wake.notify_one();
            }
            --leaders_;
            // A turn to lead is free: the first caller not yet told takes it.
            for (const auto& slot : waiting_) {
                if (slot->called) continue;
                slot->called = true;
                slot->wake.notify_one();
                break;
            }
        }
        if (mine->failure) std::rethrow_exception(mine->failure);
        return std::move(mine->value);
    }

  private:
    struct Slot {
        Key key;
        std::optional<Value> value;
        std::exception_ptr failure;
        bool done = false;
        bool called = false;  // woken to lead, not yet awake
        std::condition_variable wake;
    };

    const Lookup lookup_;
    const size_t maxKeys_;
    const size_t maxLeaders_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Slot>> waiting_;
    size_t leaders_ = 0;
};

}  // namespace board
