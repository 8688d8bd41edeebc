// The game's background sharing: exchanges run on the HTTP client's worker
// thread while the frame loop only polls for their results. Every call is
// made on the main thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "scores/scores.h"
#include "share/exchange.h"

namespace scores {

// Sets the check a replay's bytes pass before they are sent (the replay
// reader lives above this layer); a file that fails it is refused here with
// the reader's reason and never sent. Without a check every file is sent.
void SetReplayCheck(std::function<bool(std::string_view bytes, std::string& why)> check);
// Reads "Board.ini" and the queue and sends what waits (the program's start).
void StartBoardSharing(const ShareLimits& limits = {});
// Queues a run just stored (with its replay) when a board is named, and sends the queue.
void ShareStoredRun(const Scores& record);
// Moves the exchanges on (answers taken in, next requests started) without
// showing or saving anything: cheap, called every step whatever the screen.
void DriveBoardSharing();
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
