// Sharing runs with a board server: the player's choice of board
// ("Board.ini" beside the settings file), the token that owns the player's
// names there (a private file beside the score file), the queue of runs to
// send and what the board said of each (a file beside the score file), one
// exchange with the board, and the game's background sharing, which runs the
// exchanges on the media layer's worker thread while the frame loop only
// polls for results. Nothing is ever sent unless "Board.ini" names a server.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "scores/board_token.h"
#include "scores/scores.h"

namespace scores {

// The file naming the board, beside "Setup.ini".
inline constexpr const char* kBoardFileName = "Board.ini";
// The token file and the queue file, beside the score file.
inline constexpr const char* kBoardTokenFileName = "board.token";
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

// What one exchange with the board gave.
struct ShareResult {
    BoardRun run;               // the run's new state
    std::string problem;        // why it could not be sent ("" when the board answered)
    int retryAfterSeconds = 0;  // how long the board asked to wait (429), 0 for no wish
};

// Time limits of one exchange.
struct ShareLimits {
    int connectMs = 5000;       // per request, to connect
    int requestMs = 20000;      // per request, in all
    int verdictWaitMs = 60000;  // how long to wait for a verdict after sending
    int verdictPollMs = 1000;   // between two questions about a pending run
};

// Returns the server URL of a "Board.ini" text: the value of its "Server"
// line (key in any letter case, spaces around "=" allowed, ";" and "#" start
// comments). "" when none is named; problem says why a value was not taken
// (not an http or https URL, spaces or control characters in it).
std::string ParseBoardIni(std::string_view text, std::string& problem);
// Returns "Board.ini"'s path beside the settings file.
std::string BoardIniPath();
// Returns the token file's and the queue file's paths beside the score file.
std::string BoardTokenPath();
std::string BoardQueuePath();
// Reads the server that "Board.ini" names ("" when there is none); a problem is logged once.
std::string NamedBoard();

// Makes a new token: 256 bits from the system's random source in the board's
// token characters; "" when the source failed.
std::string MakeBoardToken();
// Returns the player's token, making it and its file (mode 0600) on first
// use; "" (with problem set) when the file is there but unusable or a new
// one could not be saved. The token is never logged.
std::string BoardToken(std::string& problem);

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

// Sends a run's replay to the board (or, once the board has its id, only asks
// for its state), waits up to limits.verdictWaitMs for the verdict, and takes
// a verified run's rank from the board's answer about the run. Blocking; safe
// on any thread; stops early when stop becomes true. Nothing is logged here.
ShareResult ExchangeRun(const std::string& server, const std::string& token, const BoardRun& run,
                        const std::string& replayBytes, const ShareLimits& limits,
                        const std::atomic<bool>& stop);
// Returns the panel's line for a run's board state ("Board: rank 3 on Hard").
std::string BoardStateText(const BoardRun& run);
// Returns a UTF-8 text as ISO 8859-1 ("?" for characters above 255).
std::string Utf8ToLatin1(std::string_view utf8);

// Sets the check a replay's bytes pass before they are sent (the replay
// reader lives above this layer); a file that fails it is refused here with
// the reader's reason and never sent. Without a check every file is sent.
void SetReplayCheck(std::function<bool(std::string_view bytes, std::string& why)> check);

// The game's background sharing. Every call is made on the main thread.
// Reads "Board.ini" and the queue and sends what waits (the program's start).
void StartBoardSharing(const ShareLimits& limits = {});
// Queues a run just stored (with its replay) when a board is named, and sends the queue.
void ShareStoredRun(const Scores& record);
// Takes in finished exchanges: updates and saves the queue, shows each new outcome once as a
// notice.
void PollBoardSharing();
// Stops sharing within a second: a send in flight is cancelled and its run stays queued.
void StopBoardSharing();
// Returns true while exchanges run or wait.
bool BoardSharingBusy();
// Returns the panel's board line for a run ("" when no board is named or the run was never shared).
std::string BoardLineFor(const Scores& record);
// Returns true when the run can be shared now: a board is named, the run has
// a replay and was not shared with that board yet.
bool CanShareRun(const Scores& record);
// Forgets the sharing state but the replay check (for tests and a changed "Board.ini").
void ResetBoardSharing();

}  // namespace scores
