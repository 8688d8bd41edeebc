// The server's in-memory mirror of the stored ranking, so that board pages
// and ranks never wait on the database: per difficulty a sorted, immutable
// list of each name's best run, shared by every request through one
// snapshot that a refresh replaces. A refresh reads only the rows changed
// since the snapshot's version and copies only the blocks of the boards they
// touch, so a verdict costs little however long the boards are; it runs after this server's
// verdicts and moderation, and a watcher thread checks the database every kRankingCheckMs for
// changes made by other servers or an operator's tool.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstddef>
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
    // A board in blocks of a few hundred entries, shared between snapshots:
    // a verdict copies the blocks it touches and the list of blocks, never
    // the whole board.
    struct Board {
        using Block = std::vector<RankedRun>;
        std::vector<std::shared_ptr<const Block>> blocks;
        std::vector<int64_t> ends;  // entries up to and including each block
        // Each block's last entry's place, side by side: a lookup's binary
        // search reads these instead of one block after another.
        struct Last {
            int64_t score = 0;
            int64_t verifiedAt = 0;
            int64_t id = 0;
        };
        std::vector<Last> lasts;
    };

    // Returns up to limit entries of a board from offset on (the first has rank offset + 1).
    std::vector<RankedRun> Page(int difficulty, int64_t offset, int limit) const;
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
    // Entries of a block of a board built whole; a block splits in two past
    // twice as many. A verdict copies one or two blocks of this size and the
    // list of blocks (a board of 100,000 names has about 200).
    static constexpr size_t kBlockEntries = 512;

    // Makes an empty mirror of storage's ranking (Refresh or Watch fills it),
    // its boards in blocks of blockEntries.
    explicit Ranking(Storage& storage, size_t blockEntries = kBlockEntries);
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

    // Where a name's entry stands on a board, by the hash of its key.
    struct Place {
        uint64_t hash = 0;
        int64_t score = 0;
        int64_t verifiedAt = 0;
        int64_t id = 0;
    };
    // Sorted by hash: 32 bytes a name, no allocation of its own.
    using NameIndex = std::vector<Place>;

  private:
    void WatchLoop();

    Storage& storage_;
    const size_t blockEntries_;
    // Each board's names, for taking a name's old entry out; guarded by refreshMutex_.
    std::array<NameIndex, 3> names_;
    std::mutex refreshMutex_;  // one refresh at a time
    std::atomic<int64_t> lastReadMs_{0};
    std::atomic<std::shared_ptr<const RankingSnapshot>> current_;
    std::mutex watchMutex_;
    std::condition_variable stopped_;
    bool stop_ = false;  // guarded by watchMutex_
    std::thread watcher_;
};

}  // namespace board
