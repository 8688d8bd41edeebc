// The server's in-memory mirror of the stored ranking, so that board pages
// and ranks never wait on the database: per difficulty a sorted, immutable
// list of each name's best run, shared by every request through one
// snapshot that a refresh replaces whole. A refresh reads only the rows
// changed since the snapshot's version; it runs after this server's verdicts
// and moderation, and a watcher thread checks the database every
// kRankingCheckMs for changes made by other servers or an operator's tool.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "board/storage.h"

namespace board {

// One moment of the ranking: every board in its order (highest score first,
// ties to the earlier verification, then the lower id).
class RankingSnapshot {
  public:
    using Board = std::vector<RankedRun>;

    // Returns up to limit entries of a board from offset on (the first has rank offset + 1).
    std::span<const RankedRun> Page(int difficulty, int64_t offset, int limit) const;
    // Returns a run's place on its board (1 for the first) when it is its
    // name's best shown verified run there, else nullopt.
    std::optional<int64_t> RankOf(const Run& run) const;
    // Returns the number of names on a board.
    int64_t Size(int difficulty) const;
    // Returns the stored ranking's version this snapshot shows.
    int64_t Version() const { return version_; }

  private:
    friend class Ranking;

    int64_t version_ = 0;
    std::array<std::shared_ptr<const Board>, 3> boards_;
};

class Ranking {
  public:
    // Makes an empty mirror of storage's ranking (Refresh or Watch fills it).
    explicit Ranking(Storage& storage);
    // Stops the watcher.
    ~Ranking();
    Ranking(const Ranking&) = delete;
    Ranking& operator=(const Ranking&) = delete;

    // Brings the mirror up to the stored ranking now; throws StorageError
    // (the mirror stays as it was).
    void Refresh();
    // Refreshes now (failures are logged) and starts the watcher thread.
    void Watch();
    // Stops the watcher thread and waits for it; the storage may go after this returns.
    void Stop();
    // Returns the current snapshot (never null).
    std::shared_ptr<const RankingSnapshot> Current() const { return current_.load(); }
    // Returns when the last refresh that succeeded began reading, in
    // milliseconds since the epoch (0 before the first).
    int64_t LastReadMs() const { return lastReadMs_.load(); }

  private:
    void WatchLoop();

    Storage& storage_;
    std::mutex refreshMutex_;  // one refresh at a time
    std::atomic<int64_t> lastReadMs_{0};
    std::atomic<std::shared_ptr<const RankingSnapshot>> current_;
    std::mutex watchMutex_;
    std::condition_variable stopped_;
    bool stop_ = false;  // guarded by watchMutex_
    std::thread watcher_;
};

}  // namespace board
