// Check-value prints, the copy rule's arithmetic and the statements that keep
// and search the index of check values.
#include "board/copies.h"

#include "game/replay_file.h"

namespace board {

namespace {

// Where every chain of check values starts hashing, and the spacing added per value.
constexpr uint64_t kPrintSeed = 0x243f'6a88'85a3'08d3;
constexpr uint64_t kPrintStep = 0x9e37'79b9'7f4a'7c15;
// The high bytes of the copy locks' keys, apart from every other lock the board takes.
constexpr uint64_t kCopyLockBase = 0x7a71'6370'0000'0000;  // "zqcp"

// Mixes 64 bits so that every input bit moves about half the output bits.
uint64_t Mix(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xbf58'476d'1ce4'e5b9;
    x = (x ^ (x >> 27)) * 0x94d0'49bb'1331'11eb;
    return x ^ (x >> 31);
}

}  // namespace

const char* const kSqlInsertChecks = "INSERT INTO run_checks (run_id, checks) VALUES (?, ?)";
const char* const kSqlInsertPrint =
    "INSERT INTO run_prints (difficulty, level, print, run_id) VALUES (?, ?, ?, ?)";
// The inner query walks the index in id order and stops at the cap; the outer
// one compares only the prefix the rule needs, inside the database.
const char* const kSqlFindCopied =
    "SELECT p.run_id FROM (SELECT run_id FROM run_prints "
    "WHERE difficulty = ? AND level = ? AND print = ? AND run_id < ? ORDER BY run_id LIMIT ?) "
    "AS p "
    "JOIN run_checks c ON c.run_id = p.run_id "
    "WHERE length(c.checks) >= ? AND substr(c.checks, 1, ?) = ? ORDER BY p.run_id LIMIT 1";
const char* const kSqlOwnerOfRun =
    "SELECT n.token_hash FROM runs r JOIN names n ON n.name_key = r.name_key WHERE r.id = ?";
const char* const kSqlStoredChecks = "SELECT checks FROM run_checks WHERE run_id = ?";
const char* const kSqlSetScoring =
    "UPDATE run_checks SET scoring_len = ?, scoring_print = ? WHERE run_id = ?";
const char* const kSqlSetUnknownScoring =
    "UPDATE run_checks SET scoring_len = ?, scoring_print = ? "
    "WHERE run_id = ? AND scoring_len IS NULL";
const char* const kSqlUnscoredRun =
    "SELECT c.run_id FROM run_checks c JOIN runs r ON r.id = c.run_id "
    "WHERE c.scoring_len IS NULL AND c.run_id > ? AND r.state <> 'pending' "
    "ORDER BY c.run_id LIMIT 1";
// Every opening of the new run is looked up by its print; the caller
// confirms a match byte for byte (kSqlOpeningBytes).
std::string ScoringPrintsQuery(size_t prints) {
    std::string list;
    for (size_t i = 0; i < prints; ++i) list += i ? ", ?" : "?";
    return "SELECT r.id, c.scoring_len FROM run_checks c JOIN runs r ON r.id = c.run_id "
           "WHERE r.difficulty = ? AND c.scoring_len > 0 AND c.scoring_print IN (" +
           list + ") ORDER BY r.id LIMIT ?";
}
const char* const kSqlOpeningBytes = "SELECT substr(checks, 1, ?) FROM run_checks WHERE run_id = ?";
// One statement, so that PostgreSQL reads both halves from one snapshot: a
// run that leaves pending meanwhile is found in one half or the other. The
// pending runs are read first through their covering index (a few at most):
// given a bound on ids, a planner may walk every run instead.
const char* const kSqlFindOpeningOriginal =
    "WITH pending AS MATERIALIZED (SELECT id FROM runs WHERE state = 'pending') "
    "SELECT min(found.id) FROM ("
    "SELECT r.id AS id FROM run_checks c JOIN runs r ON r.id = c.run_id "
    "WHERE c.scoring_print = ? AND c.scoring_len = ? AND r.difficulty = ? AND r.id < ? "
    "AND substr(c.checks, 1, ?) = ? "
    "UNION ALL "
    "SELECT p.id AS id FROM pending p JOIN runs r ON r.id = p.id "
    "JOIN run_checks c ON c.run_id = p.id "
    "WHERE p.id < ? AND r.difficulty = ? AND substr(c.checks, 1, ?) = ?) AS found";
const char* const kSqlRunsWithoutChecks =
    "SELECT r.id, r.difficulty FROM runs r "
    "WHERE r.id > ? AND NOT EXISTS (SELECT 1 FROM run_checks c WHERE c.run_id = r.id) "
    "ORDER BY r.id LIMIT ?";

std::string PackChecks(const std::vector<uint32_t>& checks, size_t count) {
    std::string out;
    out.reserve(count * 4);
    for (size_t i = 0; i < count && i < checks.size(); ++i) {
        for (int b = 0; b < 4; ++b) out += static_cast<char>((checks[i] >> (8 * b)) & 0xff);
    }
    return out;
}

std::vector<uint32_t> UnpackChecks(const std::string& packed) {
    std::vector<uint32_t> out(packed.size() / 4, 0);
    for (size_t i = 0; i < out.size(); ++i) {
        for (int b = 0; b < 4; ++b) {
            out[i] |= static_cast<uint32_t>(static_cast<unsigned char>(packed[i * 4 + b])) << (8 * b);
        }
    }
    return out;
}

std::vector<int64_t> PrefixPrints(const std::vector<uint32_t>& checks) {
    std::vector<int64_t> prints;
    prints.reserve(checks.size());
    uint64_t h = kPrintSeed;
    for (const uint32_t c : checks) {
        h = Mix(h + c + kPrintStep);
        prints.push_back(static_cast<int64_t>(h & 0x7fff'ffff'ffff'ffff));
    }
    return prints;
}

std::vector<int64_t> CheckPrints(const std::vector<uint32_t>& checks) {
    const std::vector<int64_t> all = PrefixPrints(checks);
    std::vector<int64_t> prints;
    // Only powers of two: the first 1, 2, 4... values.
    for (size_t count = 1; count <= all.size(); count *= 2) prints.push_back(all[count - 1]);
    return prints;
}

std::optional<ScoringOpening> ScoringOpeningOf(const std::vector<uint32_t>& checks,
                                               int64_t scoredFrom) {
    if (scoredFrom < 0 || scoredFrom >= static_cast<int64_t>(checks.size())) return std::nullopt;
    const std::vector<uint32_t> opening(checks.begin(), checks.begin() + scoredFrom + 1);
    ScoringOpening out;
    out.first = checks.front();
    out.length = scoredFrom + 1;
    out.print = PrefixPrints(opening).back();
    out.prefix = PackChecks(opening, opening.size());
    return out;
}

CopyProbe ProbeFor(const std::vector<uint32_t>& checks) {
    return ProbeFor(checks, checks.size());
}

CopyProbe ProbeFor(const std::vector<uint32_t>& first, size_t count) {
    CopyProbe probe;
    probe.agreement = CopyAgreement(count);
    // The longest power-of-two prefix within the agreement: every run the new
    // one copies shares it, so it carries the same print at that level.
    while ((int64_t{2} << probe.level) <= probe.agreement) ++probe.level;
    probe.print = CheckPrints(first)[static_cast<size_t>(probe.level)];
    probe.prefix = PackChecks(first, static_cast<size_t>(probe.agreement));
    return probe;
}

int64_t CopyLockKey(int difficulty, uint32_t firstCheck) {
    const uint64_t level = static_cast<uint64_t>(difficulty) & 0xffff;
    return static_cast<int64_t>(kCopyLockBase | (level << 32) | firstCheck);
}

std::optional<std::vector<uint32_t>> ReplayChecks(const std::string& bytes) {
    game::Replay replay;
    std::string error;
    if (!game::DecodeReplay(bytes, replay, error)) return std::nullopt;
    return std::move(replay.checks);
}

std::string ChecksHex(const std::vector<uint32_t>& checks) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(checks.size() * 8);
    for (const uint32_t c : checks) {
        for (int shift = 28; shift >= 0; shift -= 4) out += kDigits[(c >> shift) & 0xf];
    }
    return out;
}

std::optional<std::vector<uint32_t>> ChecksFromHex(std::string_view hex) {
    if (hex.size() % 8 != 0) return std::nullopt;
    std::vector<uint32_t> out(hex.size() / 8, 0);
    for (size_t i = 0; i < hex.size(); ++i) {
        const char c = hex[i];
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
        out[i / 8] = (out[i / 8] << 4) | digit;
    }
    return out;
}

}  // namespace board
