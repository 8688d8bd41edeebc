// The high-score panel the title screen draws beside its menu: for one
// combination of level, game mode and game flags, a graph of every run in time
// order, a top-25 table by score and a detail box for the run under the mouse.
// Drawing it also thins ScoreList: beyond the 50 newest runs of the combination
// only the runs in its top 25 stay.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "scores/scores.h"

namespace app {

// Slots of TopList (1..25; entry 0 unused).
inline constexpr int kTopListSlots = 25;
// Runs of a combination that are kept whatever their score.
inline constexpr int kKeptNewest = 50;
// SelectedIndex values from this one up pin a row of the table.
inline constexpr int kTableIndexBase = 1000;

// The records of the top table, best first, rebuilt on every drawn call.
// Note: the pointers are only good until ScoreList next changes.
extern std::array<scores::Scores*, kTopListSlots + 1> TopList;
// The record whose details were shown by the last drawn call, or null.
// Note: only good until ScoreList next changes.
extern scores::Scores* SelectedRecord;
// 0 for no pinned run; 1.. pins the n-th run of the graph; 1001..1025 a table row.
extern int SelectedIndex;
// How far the graph is scrolled to the right, 0..1000 in steps of 8.
extern int GraphScroll;
// Number of badge kinds (badge n is bit n-1 of Scores::Badges).
extern int BadgeCount;

// The mouse button the panel polls (tests replace it; media::MouseDown by default).
extern std::function<int(int)> ScorePanelMouseDown;

// Plays a run's replay; the Watch button of the detail box calls it (no button while empty).
extern std::function<void(const scores::Scores&)> WatchReplayHook;
// Returns the detail box's board line for a run ("" for none); empty hook: no line.
extern std::function<std::string(const scores::Scores&)> BoardLineHook;
// Returns true when the detail box offers "Share" for a run; ShareRunHook shares it.
extern std::function<bool(const scores::Scores&)> CanShareHook;
// (ShareRunHook, in scores.h, shares it.)

// Returns true when a record belongs to the combination.
bool MatchesCombination(const scores::Scores& record, int mode, int level, int flags);
// Fills TopList with the combination's 25 best runs of list (equal scores keep
// list order) and returns the best score, at least 1.
int64_t RankTopList(std::list<scores::Scores>& list, int mode, int level, int flags);
// Returns the graph height 0..150 of a score against the best score.
int GraphHeight(int64_t score, int64_t best);
// Draws the panel for a combination and thins ScoreList; draw 0 does nothing.
// Note: x + 5 is the panel's reference; width is 335 or 415.
void DrawScorePanel(int x, int width, int mode, int level, int flags, int draw);
// Resets the panel's state (nothing selected or pinned, no scroll, 16 badges).
void ResetScorePanel();

}  // namespace app
