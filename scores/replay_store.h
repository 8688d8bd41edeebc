// Where replays are kept: the "replays/" folder beside the score file, one
// file per stored run named from its timestamp, score and score line, and the
// pruning that removes the replay of every run that has left the score list.
#pragma once

#include <list>
#include <string>

#include "scores/scores.h"

namespace scores {

// Name ending of replay files.
inline constexpr const char* kReplayExtension = ".zqr";

// Returns the replays folder (ending in "/"): the score file's folder plus
// "replays/", or "replays/" in the current folder before the paths are fixed.
std::string ReplayFolder();
// Returns the file name of a run's replay, e.g. "2026-12-08_07-35-59_12345_1a2b3c4d.zqr":
// time, score and the check value of the run's score line, so that runs of the
// same second and score keep replays of their own.
std::string ReplayFileName(const Scores& record);
// Returns the full path of a run's replay; where only a replay under the
// earlier name without the check value is there, that one.
std::string ReplayPath(const Scores& record);
// Returns the path a new replay of the run is written to: its own name, or
// with "-2", "-3" ... added while an identical run's replay holds that name.
std::string NewReplayPath(const Scores& record);
// Returns true when a run's replay file exists (a regular file).
bool HasReplay(const Scores& record);
// Returns true when a file name is one the replay store makes (nothing else is ever removed).
bool IsReplayFileName(const std::string& name);
// Returns the name with the ordinal n (2 ... 100) in place of any it has, so
// that a second replay of an identical run can sit beside the first; "" when
// names of its form carry no ordinal (the earlier form without a check value)
// or n is out of range.
std::string ReplayNameWithOrdinal(const std::string& name, int n);
// Removes every replay in the folder whose run is not in list; returns how many were removed.
int PruneReplays(const std::list<Scores>& list);

}  // namespace scores
