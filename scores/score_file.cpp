// The score file: each line is the scrambler's output (hexadecimal digits
// only); line 1 holds the account, every further line one record, newest first.
// Loading keeps the order a re-sort after every line gives; saving replaces
// the file durably.
//
// Runs are never lost: AddRun saves the file as soon as a run is added, and
// LoadScores, which the graphics set-up calls again after every change of
// settings, keeps each run added since start-up that is still in ScoreList but
// missing from the file (a save that failed), so such a run survives the
// reload once, and a run that did reach the file is not doubled.
#include "scores/score_file.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <memory>
#include <set>
#include <vector>

#include "engine/media/files.h"
#include "engine/media/paths.h"
#include "engine/media/text.h"
#include "scores/date_time.h"
#include "scores/get_field.h"
#include "scores/replay_store.h"
#include "scores/scrambler.h"

namespace scores {

namespace {

// Lines of two characters or fewer are split as they stand, not unscrambled.
constexpr size_t kShortestScrambledLine = 3;

// Keeps ScoreList in order while loading, as a re-sort after every line
// would. While every timestamp in the list lies within 2^31 - 1 of every
// other, Compare is a consistent order: the sorted list stays as it is, and a
// stable sort of it plus one appended record puts that record after every
// record that is not older than it, so it is inserted there directly. Only a
// wider spread (which real date-time numbers never reach) needs the full
// merge sort each time. This keeps loading a long file from being quadratic.
class LoadOrder {
  public:
    // Adds a record (or nothing, for a line that held none) and restores the order.
    void Add(Scores* record) {
        if (record != nullptr) {
            const int64_t ts = record->Timestamp;
            if (ScoreList.empty() && !wide_) {
                lo_ = hi_ = ts;
            } else {
                lo_ = std::min(lo_, ts);
                hi_ = std::max(hi_, ts);
            }
            wide_ = wide_ || static_cast<uint64_t>(hi_) - static_cast<uint64_t>(lo_) >
                                 static_cast<uint64_t>(INT32_MAX);
            if (!wide_) {
                auto at = ScoreList.end();
                while (at != ScoreList.begin() && std::prev(at)->Compare(record) > 0) --at;
                ScoreList.insert(at, std::move(*record));
                return;
            }
            ScoreList.push_back(std::move(*record));
        }
        if (wide_) SortScoreList();
    }

  private:
    int64_t lo_ = 0;
    int64_t hi_ = 0;
    bool wide_ = false;
};

// State: the plain score line (as the file stores it) of every run AddRun
// added since start-up, one entry per run.
std::vector<std::string> g_sessionRuns;

// Returns the score file's path: fixed at start-up, else in the current folder.
std::string ScoreFilePath() {
    return media::ProgramPathOr(media::ProgramPaths().scoreFile, kScoreFileName);
}

// Returns the absolute value of a count read from the file, never negative
// (the one value without a positive twin reads as the largest count).
int32_t AbsCount(int32_t v) {
    if (v == INT32_MIN) return INT32_MAX;
    return v < 0 ? -v : v;
}

// Returns the name as the score line can carry it.
std::string StorableName(std::string_view name) {
    std::string out = media::Replace(name, "|", std::string(1, kBrokenBar));
    std::string brokenKey(ScoreKey);
    brokenKey[4] = 'S';
    // ScoreKey cannot overlap itself (its first character occurs once), so one
    // pass leaves no copy behind.
    return media::Replace(out, ScoreKey, brokenKey);
}

// Returns the plain line of a record as a reload would give it back.
std::string StoredLine(const Scores& record) {
    Scores stored;
    ParseScoreLine(FormatScoreLine(record), stored);
    return FormatScoreLine(stored);
}

void AppendJsonString(std::string& out, std::string_view text) {
    static const char kHexDigits[] = "0123456789abcdef";
    out.push_back('"');
    for (char ch : text) {
        int c = media::CharCode(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHexDigits[c >> 4]);
                    out.push_back(kHexDigits[c & 15]);
                } else if (c < 0x80) {
                    out.push_back(ch);
                } else {
                    // Codes 128..255 are the Unicode code points of the same number.
                    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                }
        }
    }
    out.push_back('"');
}

}  // namespace

std::string FormatScoreLine(const Scores& r) {
    std::string line = media::Str(r.Score);
    line += "|" + StorableName(r.Name);
    line += "|" + media::Str(r.Badges);
    line += "|" + media::Str(r.Timestamp);
    line += "|" + media::Str(r.Level);
    line += "|" + media::Str(r.GameMode);
    line += "|" + media::Str(r.GameFlags);
    line += "|" + media::Str(r.Quit);
    line += ScoreKey;
    for (int i = 1; i < kBestEntries; ++i) {
        if (i > 1) line += "|";
        line += media::Str(r.Best[static_cast<size_t>(i)]);
    }
    return line;
}

bool ParseScoreLine(std::string_view plain, Scores& out) {
    const std::string a = GetField(plain, ScoreKey, 1);
    if (media::Instr(a, "|") == 0) return false;
    const std::string b = GetField(plain, ScoreKey, 2);
    Scores r;
    r.Score = media::ToLong(GetField(a, "|", 1));
    r.Name = media::Trim(GetField(a, "|", 2));
    r.Badges = AbsCount(media::ToInt(GetField(a, "|", 3)));
    r.Timestamp = media::ToLong(GetField(a, "|", 4));
    r.Level = AbsCount(media::ToInt(GetField(a, "|", 5)));
    r.GameMode = AbsCount(media::ToInt(GetField(a, "|", 6)));
    r.GameFlags = AbsCount(media::ToInt(GetField(a, "|", 7)));
    r.Quit = AbsCount(media::ToInt(GetField(a, "|", 8)));
    for (int i = 1; i < kBestEntries; ++i) {
        r.Best[static_cast<size_t>(i)] = AbsCount(media::ToInt(GetField(b, "|", i)));
    }
    out = std::move(r);
    return true;
}

void LoadScores() {
    std::unique_ptr<media::TStream> file = media::ReadFile(ScoreFilePath());
    if (!file) return;  // missing (or not a readable file): nothing changes

    const std::string account = Unscramble(file->ReadLine(), AccountKey);
    AccountName = GetField(account, "|", 1);
    AccountPassword = GetField(account, "|", 2);

    // The runs of this session that are still listed, to check against the file.
    std::multiset<std::string> unmatched(g_sessionRuns.begin(), g_sessionRuns.end());
    std::list<Scores> sessionRuns;
    for (const Scores& r : ScoreList) {
        auto it = unmatched.find(StoredLine(r));
        if (it == unmatched.end()) continue;
        unmatched.erase(it);
        sessionRuns.push_back(r);
    }

    ScoreList.clear();
    LoadOrder order;
    int count = 0;
    std::multiset<std::string> inFile;
    do {
        const std::string line = file->ReadLine();
        const std::string plain =
            line.size() >= kShortestScrambledLine ? Unscramble(line, "") : line;
        Scores record;
        if (ParseScoreLine(plain, record)) {
            if (++count == 1) PlayerName = record.Name;
            inFile.insert(FormatScoreLine(record));
            order.Add(&record);
        } else {
            order.Add(nullptr);
        }
    } while (!file->Eof());
    file->Close();

    for (Scores& r : sessionRuns) {
        auto it = inFile.find(StoredLine(r));
        if (it != inFile.end()) {
            inFile.erase(it);
            continue;
        }
        order.Add(&r);
    }
}

bool SaveScores() {
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(ScoreFilePath());
    if (!out) return false;
    out->WriteLine(Scramble(AccountName + "|" + AccountPassword, AccountKey));
    SortScoreList();
    for (const Scores& r : ScoreList) out->WriteLine(Scramble(FormatScoreLine(r), ""));
    if (!media::CloseFile(out)) return false;
    PruneReplays(ScoreList);  // replays of runs the file no longer holds go with them
    return true;
}

bool AddRun(const Scores& record) {
    ScoreList.push_back(record);
    SortScoreList();
    g_sessionRuns.push_back(StoredLine(record));
    return SaveScores();
}

void ResetScores() {
    ResetScoreGlobals();
    g_sessionRuns.clear();
}

std::string ScoreRecordJson(const Scores& r) {
    std::string out = "{\"score\":" + media::Str(r.Score);
    out += ",\"name\":";
    AppendJsonString(out, r.Name);
    out += ",\"badges\":" + media::Str(r.Badges);
    out += ",\"timestamp\":" + media::Str(r.Timestamp);
    out += ",\"date\":";
    AppendJsonString(out, DateText(r.Timestamp));
    out += ",\"time\":";
    AppendJsonString(out, TimeText(r.Timestamp));
    out += ",\"level\":" + media::Str(r.Level);
    out += ",\"mode\":" + media::Str(r.GameMode);
    out += ",\"flags\":" + media::Str(r.GameFlags);
    out += ",\"quit\":" + media::Str(r.Quit);
    out += ",\"best\":[";
    for (int i = 1; i < kBestEntries; ++i) {
        if (i > 1) out.push_back(',');
        out += media::Str(r.Best[static_cast<size_t>(i)]);
    }
    out += "]}";
    return out;
}

}  // namespace scores
