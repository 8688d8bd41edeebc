// The in-memory mirror of the stored ranking.
#include "board/ranking.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <unordered_set>

#include "board/limits.h"
#include "board/log.h"

namespace board {

namespace {

constexpr int kBoards = 3;
// Changes in one refresh past which the memory freed is given back to the
// system at once (the first load of a large ranking).
constexpr size_t kTrimAfterChanges = 10000;

// Returns true when a comes before b on a board.
bool Before(const RankedRun& a, const RankedRun& b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.verifiedAt != b.verifiedAt) return a.verifiedAt < b.verifiedAt;
    return a.id < b.id;
}

// Returns a board with the names in changed taken out and added merged in
// (added sorted, holding each of its names once).
std::shared_ptr<const RankingSnapshot::Board> Merge(
    const RankingSnapshot::Board& old, const std::unordered_set<std::string_view>& changed,
    const std::vector<RankedRun>& added) {
    auto board = std::make_shared<RankingSnapshot::Board>();
    board->reserve(old.size() + added.size());
    size_t next = 0;
    for (const RankedRun& r : old) {
        if (changed.count(r.nameKey) != 0) continue;
        while (next < added.size() && Before(added[next], r)) board->push_back(added[next++]);
        board->push_back(r);
    }
    while (next < added.size()) board->push_back(added[next++]);
    return board;
}

}  // namespace

std::span<const RankedRun> RankingSnapshot::Page(int difficulty, int64_t offset,
                                                 int limit) const {
    if (difficulty < 0 || difficulty >= kBoards || offset < 0 || limit <= 0) return {};
    const Board& board = *boards_[static_cast<size_t>(difficulty)];
    if (offset >= static_cast<int64_t>(board.size())) return {};
    const size_t from = static_cast<size_t>(offset);
    return std::span<const RankedRun>(board).subspan(
        from, std::min(board.size() - from, static_cast<size_t>(limit)));
}

std::optional<int64_t> RankingSnapshot::RankOf(const Run& run) const {
    if (run.state != RunState::Verified || run.hiddenAt || !run.score || !run.verifiedAt ||
        run.difficulty < 0 || run.difficulty >= kBoards) {
        return std::nullopt;
    }
    const Board& board = *boards_[static_cast<size_t>(run.difficulty)];
    RankedRun key;
    key.id = run.id;
    key.score = *run.score;
    key.verifiedAt = *run.verifiedAt;
    const auto at = std::lower_bound(board.begin(), board.end(), key, Before);
    if (at == board.end() || at->id != run.id) return std::nullopt;
    return static_cast<int64_t>(at - board.begin()) + 1;
}

int64_t RankingSnapshot::Size(int difficulty) const {
    if (difficulty < 0 || difficulty >= kBoards) return 0;
    return static_cast<int64_t>(boards_[static_cast<size_t>(difficulty)]->size());
}

Ranking::Ranking(Storage& storage) : storage_(storage) {
    auto empty = std::make_shared<RankingSnapshot>();
    for (auto& board : empty->boards_) board = std::make_shared<const RankingSnapshot::Board>();
    current_.store(std::move(empty));
}

Ranking::~Ranking() {
    Stop();
}

void Ranking::Stop() {
    {
        std::lock_guard lock(watchMutex_);
        stop_ = true;
    }
    stopped_.notify_all();
    if (watcher_.joinable()) watcher_.join();
}

void Ranking::Refresh() {
    std::lock_guard lock(refreshMutex_);
    std::shared_ptr<const RankingSnapshot> old = current_.load();
    const int64_t readAt = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    RankingChanges changes = storage_.RankingSince(old->version_);
    lastReadMs_.store(readAt);
    const size_t count = changes.bests.size();
    if (count == 0) return;
    // Names that changed are looked up by their keys, which stay in changes.
    std::array<std::unordered_set<std::string_view>, kBoards> changed;
    std::array<std::vector<RankedRun>, kBoards> added;
    for (RankedRun& r : changes.bests) {
        if (r.difficulty < 0 || r.difficulty >= kBoards) continue;
        const size_t d = static_cast<size_t>(r.difficulty);
        // A name on an empty board needs no taking out (the first load).
        if (!old->boards_[d]->empty()) {
            changed[d].insert(r.nameKey);
            if (r.id != 0) added[d].push_back(r);
        } else if (r.id != 0) {
            added[d].push_back(std::move(r));
        }
    }
    auto next = std::make_shared<RankingSnapshot>(*old);
    next->version_ = changes.version;
    for (size_t d = 0; d < kBoards; ++d) {
        if (changed[d].empty() && added[d].empty()) continue;
        std::sort(added[d].begin(), added[d].end(), Before);
        if (old->boards_[d]->empty()) {
            added[d].shrink_to_fit();
            next->boards_[d] = std::make_shared<const RankingSnapshot::Board>(std::move(added[d]));
        } else {
            next->boards_[d] = Merge(*old->boards_[d], changed[d], added[d]);
        }
    }
    current_.store(std::move(next));
    if (count >= kTrimAfterChanges) {
        changed = {};
        added = {};
        changes = {};
        old.reset();
        malloc_trim(0);
    }
}

void Ranking::Watch() {
    try {
        Refresh();
    } catch (const StorageError& e) {
        Log(std::string("ranking: cannot read it yet: ") + e.what());
    }
    watcher_ = std::thread([this] { WatchLoop(); });
}

void Ranking::WatchLoop() {
    bool failing = false;
    std::unique_lock lock(watchMutex_);
    while (!stopped_.wait_for(lock, std::chrono::milliseconds(kRankingCheckMs),
                              [this] { return stop_; })) {
        lock.unlock();
        try {
            Refresh();
            if (failing) Log("ranking: read again");
            failing = false;
        } catch (const StorageError& e) {
            // Boards are served as last read meanwhile; said once, not every second.
            if (!failing) Log(std::string("ranking: cannot read it: ") + e.what());
            failing = true;
        }
        lock.lock();
    }
}

}  // namespace board
