// The score record of one finished run, the program-wide list of records
// (newest first, kept in order by a stable merge sort) and the names kept
// with it, and the finished run that waits for its name. Also the rule for
// which characters a typed name may hold.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <string>

namespace scores {

// Entries of Scores::Best; entry 0 is never read or written.
inline constexpr int kBestEntries = 31;
// The lookalike stored for "|", which the score line uses as its separator.
inline constexpr char kBrokenBar = '\xA6';

// One finished run of the game.
struct Scores {
    int64_t Score = 0;
    int64_t Timestamp = 0;  // the date-time number (scores/fields/date_time.h)
    int32_t Badges = 0;     // bit n-1 set when badge n was earned
    std::string Name;
    std::array<int32_t, kBestEntries> Best{};  // entries 1..30; 30 == 1 marks a completed game
    int32_t Level = 0;
    int32_t GameMode = 0;
    int32_t GameFlags = 0;
    int32_t Quit = 0;  // 1 when the run was quit from the pause menu

    // Returns other.Timestamp - Timestamp cut to a signed 32-bit value, or 1
    // when other is null; sorting ascending by it puts the newest first.
    // Note: the cut makes records more than about 68 years apart compare
    // inconsistently; real date-time numbers never are.
    int Compare(const Scores* other) const;

    // Returns true when every field is equal.
    bool operator==(const Scores&) const = default;
};

// Every run, newest first; the list owns its records and their addresses are stable.
extern std::list<Scores> ScoreList;
// The name the next run is stored under; name entry edits it.
extern std::string PlayerName;
// The account kept on the score file's first line.
extern std::string AccountName;
extern std::string AccountPassword;

// Sorts a list ascending by Compare with a stable merge sort: records that
// compare equal keep the order in which they were added.
void SortScores(std::list<Scores>& list);
// Sorts ScoreList (ascending by Compare, stable).
void SortScoreList();
// Resets ScoreList, PlayerName ("Player") and the account to their start values.
void ResetScoreGlobals();

// Shares a stored run (queues it for the board); empty when no board is named.
extern std::function<void(const Scores&)> ShareRunHook;

// Sets how the run that waits for its name is stored; the game sets it before
// name entry, so that a program closed on that screen still keeps the run.
void SetPendingRun(std::function<void()> store);
// Stores the run that waits for its name (under PlayerName as typed so far),
// once; does nothing when no run waits. The game calls it after name entry,
// every way out of the program before it saves.
void StorePendingRun();

// Returns the character code a name stores for a typed Unicode code point:
// 32..255 as they are except "|", which becomes the broken bar 166; a few
// characters above 255 become an obvious lookalike (quotes, dashes, spaces,
// "..." as ".", accented Latin letters as their base letter), any other "?".
// Returns 0 to refuse: control characters and zero-width characters.
int NameCharFor(uint32_t codepoint);

}  // namespace scores
