// The in-memory mirror of the stored ranking.
#include "board/ranking.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string_view>

#include "board/limits.h"
#include "board/log.h"

namespace board {

namespace {

constexpr int kBoards = 3;
// Changes in one refresh past which the memory freed is given back to the
// system at once (the first load of a large ranking).
constexpr size_t kTrimAfterChanges = 10000;

using Board = RankingSnapshot::Board;
using Block = Board::Block;

// Returns true when a comes before b on a board.
bool Before(const RankedRun& a, const RankedRun& b) {
    if (a.score != b.score) return a.score > b.score;
    if (a.verifiedAt != b.verifiedAt) return a.verifiedAt < b.verifiedAt;
    return a.id < b.id;
}

uint64_t HashOf(std::string_view nameKey) {
    return std::hash<std::string_view>{}(nameKey);
}

// Orders a board's index of names by the hashes of their keys.
bool ByHash(const Ranking::Place& a, const Ranking::Place& b) {
    return a.hash < b.hash;
}

// Returns the entry standing where a name's entry stood (only its order matters).
RankedRun Probe(int64_t score, int64_t verifiedAt, int64_t id) {
    RankedRun r;
    r.score = score;
    r.verifiedAt = verifiedAt;
    r.id = id;
    return r;
}

// Returns the first block whose last entry does not come before key
// (blocks.size() for none), from the board's own list of last entries.
size_t BlockFor(const Board& board, const RankedRun& key) {
    const auto at = std::lower_bound(board.lasts.begin(), board.lasts.end(), key,
                                     [](const Board::Last& l, const RankedRun& k) {
                                         if (l.score != k.score) return l.score > k.score;
                                         if (l.verifiedAt != k.verifiedAt) {
                                             return l.verifiedAt < k.verifiedAt;
                                         }
                                         return l.id < k.id;
                                     });
    return static_cast<size_t>(at - board.lasts.begin());
}

// Recounts a board's ends and last entries after its blocks changed.
void Recount(Board& board) {
    board.ends.resize(board.blocks.size());
    board.lasts.resize(board.blocks.size());
    int64_t total = 0;
    for (size_t i = 0; i < board.blocks.size(); ++i) {
        const Block& block = *board.blocks[i];
        total += static_cast<int64_t>(block.size());
        board.ends[i] = total;
        board.lasts[i] = {block.back().score, block.back().verifiedAt, block.back().id};
    }
}

// Takes the entry of a name out of a board (its blocks copied on write).
// Returns false when the board does not hold it.
bool TakeOut(Board& board, const std::string& nameKey, const RankedRun& key) {
    const size_t b = BlockFor(board, key);
    if (b == board.blocks.size()) return false;
    const Block& old = *board.blocks[b];
    const auto at = std::lower_bound(old.begin(), old.end(), key, Before);
    if (at == old.end() || at->id != key.id || at->nameKey != nameKey) return false;
    if (old.size() == 1) {
        board.blocks.erase(board.blocks.begin() + static_cast<ptrdiff_t>(b));
        return true;
    }
    auto copy = std::make_shared<Block>();
    copy->reserve(old.size() - 1);
    copy->insert(copy->end(), old.begin(), at);
    copy->insert(copy->end(), at + 1, old.end());
    board.blocks[b] = std::move(copy);
    return true;
}

// Puts an entry in its place on a board (its block copied on write, split
// in two past maxEntries).
void PutIn(Board& board, RankedRun entry, size_t maxEntries) {
    if (board.blocks.empty()) {
        board.blocks.push_back(std::make_shared<const Block>(Block{std::move(entry)}));
        return;
    }
    // Past the last entry: into the last block.
    const size_t b = std::min(BlockFor(board, entry), board.blocks.size() - 1);
    const Block& old = *board.blocks[b];
    const auto at = std::lower_bound(old.begin(), old.end(), entry, Before);
    auto copy = std::make_shared<Block>();
    copy->reserve(std::min(old.size() + 1, maxEntries));
    copy->insert(copy->end(), old.begin(), at);
    copy->push_back(std::move(entry));
    copy->insert(copy->end(), at, old.end());
    if (copy->size() <= maxEntries) {
        board.blocks[b] = std::move(copy);
        return;
    }
    const auto half = copy->begin() + static_cast<ptrdiff_t>(copy->size() / 2);
    auto second = std::make_shared<const Block>(std::make_move_iterator(half),
                                                std::make_move_iterator(copy->end()));
    copy->erase(half, copy->end());
    copy->shrink_to_fit();
    board.blocks[b] = std::move(copy);
    board.blocks.insert(board.blocks.begin() + static_cast<ptrdiff_t>(b) + 1, std::move(second));
}

// Returns a board rebuilt whole with the changed names' new entries, built
// straight into its blocks (a first load holds no second copy of a board).
std::shared_ptr<const Board> Rebuilt(const Board& before, std::vector<RankedRun*>& changed,
                                     size_t blockEntries) {
    // The changed names, by hash, to pass over their old entries.
    std::vector<std::pair<uint64_t, const std::string*>> gone;
    gone.reserve(changed.size());
    for (const RankedRun* r : changed) gone.emplace_back(HashOf(r->nameKey), &r->nameKey);
    std::sort(gone.begin(), gone.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const auto isGone = [&gone](const std::string& nameKey) {
        const uint64_t h = HashOf(nameKey);
        const auto first = std::lower_bound(gone.begin(), gone.end(), h,
                                            [](const auto& g, uint64_t v) { return g.first < v; });
        for (auto it = first; it != gone.end() && it->first == h; ++it) {
            if (*it->second == nameKey) return true;
        }
        return false;
    };
    std::erase_if(changed, [](const RankedRun* r) { return r->id == 0; });
    std::sort(changed.begin(), changed.end(),
              [](const RankedRun* a, const RankedRun* b) { return Before(*a, *b); });
    auto board = std::make_shared<Board>();
    auto block = std::make_shared<Block>();
    const auto put = [&](RankedRun&& e) {
        if (block->empty()) block->reserve(blockEntries);
        block->push_back(std::move(e));
        if (block->size() == blockEntries) {
            board->blocks.push_back(std::move(block));
            block = std::make_shared<Block>();
        }
    };
    // Both in board order: merged as they come.
    size_t next = 0;
    for (const auto& old : before.blocks) {
        for (const RankedRun& e : *old) {
            if (isGone(e.nameKey)) continue;
            while (next < changed.size() && Before(*changed[next], e)) {
                put(std::move(*changed[next++]));
            }
            put(RankedRun(e));
        }
    }
    while (next < changed.size()) put(std::move(*changed[next++]));
    if (!block->empty()) board->blocks.push_back(std::move(block));
    Recount(*board);
    return board;
}

// Each board's changed entries, pointing into the changes read.
using ChangesByBoard = std::array<std::vector<RankedRun*>, kBoards>;

// Returns the changes read, by board (entries of no known board are left out).
ChangesByBoard ByBoard(RankingChanges& changes) {
    ChangesByBoard changed;
    for (RankedRun& r : changes.bests) {
        if (r.difficulty >= 0 && r.difficulty < kBoards) {
            changed[static_cast<size_t>(r.difficulty)].push_back(&r);
        }
    }
    return changed;
}

// Makes a board's index of names anew from the board.
void IndexNames(const Board& board, Ranking::NameIndex& names) {
    names.clear();
    names.reserve(static_cast<size_t>(board.ends.empty() ? 0 : board.ends.back()));
    for (const auto& block : board.blocks) {
        for (const RankedRun& e : *block) {
            names.push_back(Ranking::Place{HashOf(e.nameKey), e.score, e.verifiedAt, e.id});
        }
    }
    std::sort(names.begin(), names.end(), ByHash);
}

// Returns a board with the changed names' entries moved one by one (only the
// blocks they touch copied), and keeps the board's index of names with it.
std::shared_ptr<const Board> Changed(const Board& before, const std::vector<RankedRun*>& changed,
                                     Ranking::NameIndex& names, size_t maxBlockEntries) {
    auto board = std::make_shared<Board>(before);
    for (RankedRun* r : changed) {
        // The name's old entry leaves the board and the index; names
        // whose keys hash alike are told apart on the board.
        const Ranking::Place key{HashOf(r->nameKey), 0, 0, 0};
        const auto [from, to] = std::equal_range(names.begin(), names.end(), key, ByHash);
        for (auto it = from; it != to; ++it) {
            if (TakeOut(*board, r->nameKey, Probe(it->score, it->verifiedAt, it->id))) {
                names.erase(it);
                Recount(*board);
                break;
            }
        }
        if (r->id == 0) continue;  // the name has no shown run left here
        const Ranking::Place place{key.hash, r->score, r->verifiedAt, r->id};
        names.insert(std::upper_bound(names.begin(), names.end(), place, ByHash), place);
        PutIn(*board, std::move(*r), maxBlockEntries);
        Recount(*board);
    }
    return board;
}

}  // namespace

std::vector<RankedRun> RankingSnapshot::Page(int difficulty, int64_t offset, int limit) const {
    std::vector<RankedRun> out;
    if (difficulty < 0 || difficulty >= kBoards || offset < 0 || limit <= 0) return out;
    const Board& board = *boards_[static_cast<size_t>(difficulty)];
    // The first block that ends past offset.
    size_t b = static_cast<size_t>(std::upper_bound(board.ends.begin(), board.ends.end(), offset) -
                                   board.ends.begin());
    if (b == board.blocks.size()) return out;
    out.reserve(static_cast<size_t>(limit));
    size_t from = static_cast<size_t>(offset - (b == 0 ? 0 : board.ends[b - 1]));
    for (; b < board.blocks.size() && out.size() < static_cast<size_t>(limit); ++b, from = 0) {
        const Block& block = *board.blocks[b];
        const size_t take = std::min(block.size() - from, static_cast<size_t>(limit) - out.size());
        out.insert(out.end(), block.begin() + static_cast<ptrdiff_t>(from),
                   block.begin() + static_cast<ptrdiff_t>(from + take));
    }
    return out;
}

std::optional<int64_t> RankingSnapshot::RankOf(const Run& run) const {
    if (run.state != RunState::Verified || run.hiddenAt || !run.score || !run.verifiedAt ||
        run.difficulty < 0 || run.difficulty >= kBoards) {
        return std::nullopt;
    }
    const Board& board = *boards_[static_cast<size_t>(run.difficulty)];
    const RankedRun key = Probe(*run.score, *run.verifiedAt, run.id);
    const size_t b = BlockFor(board, key);
    if (b == board.blocks.size()) return std::nullopt;
    const Block& block = *board.blocks[b];
    const auto at = std::lower_bound(block.begin(), block.end(), key, Before);
    if (at == block.end() || at->id != run.id) return std::nullopt;
    return (b == 0 ? 0 : board.ends[b - 1]) + static_cast<int64_t>(at - block.begin()) + 1;
}

int64_t RankingSnapshot::Size(int difficulty) const {
    if (difficulty < 0 || difficulty >= kBoards) return 0;
    const Board& board = *boards_[static_cast<size_t>(difficulty)];
    return board.ends.empty() ? 0 : board.ends.back();
}

Ranking::Ranking(Storage& storage, size_t blockEntries)
    : storage_(storage), blockEntries_(std::max<size_t>(blockEntries, 1)) {
    auto empty = std::make_shared<RankingSnapshot>();
    for (auto& board : empty->boards_) board = std::make_shared<const Board>();
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
    ChangesByBoard changed = ByBoard(changes);
    auto next = std::make_shared<RankingSnapshot>(*old);
    next->version_ = changes.version;
    for (size_t d = 0; d < kBoards; ++d) {
        if (changed[d].empty()) continue;
        const Board& before = *old->boards_[d];
        // Many changes at once (the first load, another server's burst):
        // the board is rebuilt whole rather than changed entry by entry.
        if (changed[d].size() > 4 * blockEntries_) {
            next->boards_[d] = Rebuilt(before, changed[d], blockEntries_);
            // The first load comes board by board: the rows of a board built
            // are let go before the next is, so the whole ranking is never
            // held twice.
            changed[d].clear();
            while (!changes.bests.empty() &&
                   changes.bests.front().difficulty == static_cast<int>(d)) {
                changes.bests.pop_front();
            }
            IndexNames(*next->boards_[d], names_[d]);
        } else {
            next->boards_[d] = Changed(before, changed[d], names_[d], 2 * blockEntries_);
        }
    }
    current_.store(std::move(next));
    if (count >= kTrimAfterChanges) {
        changed = {};
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
