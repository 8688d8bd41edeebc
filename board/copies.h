// Telling a run from a copy of an earlier one. The name and date in a
// replay's header are not part of the game; its check values (a hash of the
// game state every 60 steps) are. A new run copies an earlier run of its
// difficulty when their check values agree from the first for most of the
// new run's length. Each stored run keeps its values and a few "prints"
// (hashes of its first 1, 2, 4, 8... values), so that the runs a new one may
// copy are found through an index, never by reading every stored run.
//
// A run must also not gain rank from play it did not make. Its scoring
// opening is its first check values up to the first one taken with points
// on the score: play that scored. Two runs that share a scoring opening
// played the same scoring play, since a check value hashes the whole game
// state, the score with it. The earliest sender of a scoring opening owns it;
// a later run of another token that starts with it is a copy however it goes
// on. An opening in which nothing was scored (the same idle start) belongs to
// no one, and a token may go on from its own play. Only a re-simulation
// knows where a run first scored: the verifier reports it, and each run keeps
// its opening's length and print, found through an index of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "board/limits.h"

namespace board {

// The schema version that added the check values and prints; runs stored
// before it get theirs from their replays while the database migrates.
inline constexpr int kCopyIndexVersion = 2;
// Runs read at once while the runs of an older server are indexed.
inline constexpr int64_t kIndexBatchRuns = 500;

// What a submission looks up: candidates carry print at level (a hash of
// their first 2^level values) and, to be copied, share the packed prefix
// (the first agreement values).
struct CopyProbe {
    int level = 0;
    int64_t print = 0;
    int64_t agreement = 0;
    std::string prefix;
};

// Returns how many first check values an earlier run must share with a run
// of n values for the new one to be its copy.
constexpr int64_t CopyAgreement(size_t n) {
    return static_cast<int64_t>((n * kCopyAgreementPercent + 99) / 100);
}
// A run's scoring opening: its first `length` check values, the last of them
// the first taken with points on the score.
struct ScoringOpening {
    uint32_t first = 0;  // the first check value (see CopyLockKey)
    int64_t length = 0;
    int64_t print = 0;   // the hash of those values (see PrefixPrints)
    std::string prefix;  // those values, packed
};

// Returns check values as little-endian 32-bit words, as the database keeps them.
std::string PackChecks(const std::vector<uint32_t>& checks, size_t count);
// Returns the check values packed by PackChecks (a trailing partial word is dropped).
std::vector<uint32_t> UnpackChecks(const std::string& packed);
// Returns the hashes of every opening of check values: element i hashes the first i + 1.
std::vector<int64_t> PrefixPrints(const std::vector<uint32_t>& checks);
// Returns the prints of check values: element j hashes the first 2^j values,
// for every j with 2^j <= their number.
std::vector<int64_t> CheckPrints(const std::vector<uint32_t>& checks);
// Returns the scoring opening of a run whose check value scoredFrom (counted
// from 0) is the first taken with points; nullopt when it never scored at a
// check value (scoredFrom < 0) or scoredFrom lies past its values.
std::optional<ScoringOpening> ScoringOpeningOf(const std::vector<uint32_t>& checks,
                                               int64_t scoredFrom);
// Returns what a run with these (non-empty) check values looks up.
CopyProbe ProbeFor(const std::vector<uint32_t>& checks);
// Returns what a run of count check values looks up from its first ones
// (at least CopyAgreement(count) of them).
CopyProbe ProbeFor(const std::vector<uint32_t>& first, size_t count);
// Returns the key of the PostgreSQL advisory lock that submissions which
// could copy one another share: every such pair starts with the same first
// check value on the same difficulty.
int64_t CopyLockKey(int difficulty, uint32_t firstCheck);
// Returns the check values of a stored replay's bytes, or nullopt when they are unreadable.
std::optional<std::vector<uint32_t>> ReplayChecks(const std::string& bytes);
// Returns check values as hex, eight lower-case digits each.
std::string ChecksHex(const std::vector<uint32_t>& checks);
// Returns the check values hex digits spell, or nullopt when they are not whole values.
std::optional<std::vector<uint32_t>> ChecksFromHex(std::string_view hex);

// The statements both backends run, with "?" placeholders (see StatementFor).
// Stores a run's packed check values: run id, bytes.
extern const char* const kSqlInsertChecks;
// Stores one print: difficulty, level, print, run id.
extern const char* const kSqlInsertPrint;
// Returns the id of the oldest run that a probe finds among the runs before
// an id: difficulty, level, print, that id, candidate cap, prefix length in
// bytes (twice), prefix bytes.
extern const char* const kSqlFindCopied;
// Returns the token hash owning a run's name: run id.
extern const char* const kSqlOwnerOfRun;
// Returns a run's packed check values: run id.
extern const char* const kSqlStoredChecks;
// Stores where a run first scored: opening length (0 for never), print, run id.
extern const char* const kSqlSetScoring;
// The same, only where it is not known yet.
extern const char* const kSqlSetUnknownScoring;
// Returns ids and opening lengths of the runs of a difficulty, oldest first,
// whose stored scoring opening has one of some prints. Placeholders:
// difficulty, the prints, the candidate cap.
std::string ScoringPrintsQuery(size_t prints);
// The most prints one lookup of ScoringPrintsQuery asks for.
inline constexpr size_t kScoringPrintsPerQuery = 500;
// Returns a stored run's first check values, packed: byte count, run id.
extern const char* const kSqlOpeningBytes;
// Returns the oldest finished run after an id whose scoring opening is not
// known (finished before it was kept): id.
extern const char* const kSqlUnscoredRun;
// Returns the oldest run of a difficulty before an id that starts with a
// scoring opening: stored with it, or still pending (its opening not yet
// known, but started with the same values all the same). Placeholders:
// print, length, difficulty, id, bytes, prefix; then id, difficulty, bytes, prefix.
extern const char* const kSqlFindOpeningOriginal;
// Returns id and difficulty of runs without check values after an id,
// oldest first: id, batch size.
extern const char* const kSqlRunsWithoutChecks;

}  // namespace board
