// The queue file beside the score file: every run shared (or to be shared)
// with a board and what the board said of it, one JSON object per line, keyed
// by the run's replay file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scores {

// The queue file, beside the score file.
inline constexpr const char* kBoardQueueFileName = "board.queue";

// Where a run stands with the board.
enum class BoardState {
    kQueued,    // not sent yet (or sending failed and it waits for another try)
    kPending,   // the board took it and is checking it
    kVerified,  // the board re-played it and got the same score
    kRejected,  // the board re-played it and did not
    kRefused,   // the board would not take it (400, 401, 403, 409, 413): never sent again
};

// One run in the queue file, keyed by its replay file.
struct BoardRun {
    std::string replay;  // the replay file's absolute path
    std::string server;  // the board it was shared with
    BoardState state = BoardState::kQueued;
    int64_t id = 0;          // the board's id for the run once it took it
    int64_t rank = 0;        // its place on the board's list; 0 when not listed
    std::string difficulty;  // "easy", "medium" or "hard" as the board said
    std::string name;        // the run's name as the board answered it (UTF-8)
    std::string reason;      // why it was refused or rejected
    bool noticed = false;    // its outcome has been shown as a notice

    bool operator==(const BoardRun&) const = default;
};

// Returns the queue file's path beside the score file.
std::string BoardQueuePath();
// Returns the JSON line of a queue entry, and reads one back (false for junk).
std::string FormatBoardRun(const BoardRun& run);
bool ParseBoardRun(std::string_view line, BoardRun& out);
// Reads the queue file (missing: empty; junk lines are skipped and logged).
std::vector<BoardRun> LoadBoardQueue();
// Writes the queue file durably; false (and a log line) when it was not written.
bool SaveBoardQueue(const std::vector<BoardRun>& runs);
// Returns true when a run waits to be sent to server: queued (for whichever
// board is named), or pending on that board.
bool IsWaiting(const BoardRun& run, const std::string& server);
// Puts run into runs in place of the entry with the same replay, or at the end.
void MergeBoardRun(std::vector<BoardRun>& runs, const BoardRun& run);

}  // namespace scores
