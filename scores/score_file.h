// The local score file "nuscores.dat" at the path fixed at start-up (the game
// folder of a portable folder, the per-user data folder when installed): an
// account line and one scrambled line per run, newest first; loading, durable saving,
// the score line's plain layout, the call that stores a new run at once, and
// the JSON form of a record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scores/scores.h"

namespace scores {

// The score file's name; before start-up fixes the paths (and in tests) it is
// read and written in the current folder.
inline constexpr const char* kScoreFileName = "nuscores.dat";
// The notice shown when the score file could not be saved.
inline constexpr const char* kScoresNotSavedNotice = "Couldn't save the scores!";

// Returns the plain (unscrambled) score line of a record. A "|" in the name
// is written as the broken bar 166, and a copy of ScoreKey inside the name is
// broken up (its code 167 written as "S"), so that no name can shift the
// fields of its line; every other name is written byte for byte.
std::string FormatScoreLine(const Scores& record);
// Reads a plain score line into out; false (out untouched) when the part
// before ScoreKey holds no "|", which is how a rejected line ("XXX") is skipped.
bool ParseScoreLine(std::string_view plain, Scores& out);

// Reads the score file into ScoreList, AccountName, AccountPassword and
// PlayerName; a missing file changes nothing, and so does one that is there
// but cannot be read (over 16 MiB or 100,000 records, not a regular file, no
// permission, an I/O error), which is logged. Safe to call again: runs added
// with AddRun since start-up that are still in ScoreList but not in the file
// (because a save failed) are kept after the reload, once each.
void LoadScores();
// Writes the whole score file anew (durably: the old file stays byte-identical
// unless the new one was written in full). Under a lock beside the file it
// first reads the file again and takes in the runs another copy of the
// program saved; a file it cannot read is never replaced, and one with lines
// it could not read is first kept as "nuscores.dat.bak". Returns false, logs
// a line and shows a notice when the file was not written.
bool SaveScores();
// Adds a finished run to ScoreList, sorts it and saves the file at once, so
// that no run is lost to a crash; returns the result of the save.
// Note: the run stays in the list (and survives LoadScores) even when the save fails.
bool AddRun(const Scores& record);
// What the bytes of a score file hold.
struct ScoreFileRuns {
    std::string account;      // the unscrambled account line ("XXX" when it is damaged)
    std::vector<Scores> runs;  // in file order
    bool damaged = false;      // a line held no readable run
};
// Reads score file bytes as LoadScores reads the file; false when they pass
// the score file's caps (16 MiB, 100,000 records).
bool ReadScoreBytes(std::string_view bytes, ScoreFileRuns& out);
// Adds each of runs that ScoreList does not hold yet (a run held once and
// given twice is added once) and takes the account when none is set; saves
// the file when anything changed, setting saved to the result. Returns how
// many runs were added. Note: added runs stay in ScoreList even when the
// save fails, and survive LoadScores as runs of this session do.
int MergeRuns(const std::vector<Scores>& runs, const std::string& account, bool& saved);
// Resets the score globals and forgets the runs added since start-up (for tests).
void ResetScores();

// Returns one record as a one-line JSON object (names as UTF-8, escaped).
std::string ScoreRecordJson(const Scores& record);

}  // namespace scores
