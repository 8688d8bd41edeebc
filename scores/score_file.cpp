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
#include <optional>
#include <set>
#include <vector>

#include "engine/frame_end.h"
#include "engine/log.h"
#include "engine/media/durable_file.h"
#include "engine/media/file_lock.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "engine/media/text.h"
#include "scores/fields/date_time.h"
#include "scores/fields/get_field.h"
#include "scores/replay_store.h"
#include "scores/scrambler.h"

namespace scores {

namespace {

// Lines of two characters or fewer are split as they stand, not unscrambled.
constexpr size_t kShortestScrambledLine = 3;
// Caps on what is read: a file beyond them is treated as unreadable.
constexpr int64_t kMaxScoreFileBytes = 16 << 20;
constexpr size_t kMaxScoreRecords = 100000;
// Lines of any kind (a file of empty lines holds no records at all).
constexpr int kMaxScoreLines = 1000000;
// How long a save waits for another copy of the program to finish its own.
constexpr int kLockWaitMs = 5000;
// The copy of a file whose lines could not all be read, kept before a save.
constexpr const char* kBackupSuffix = ".bak";

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

// Every run the file held when this program last read it, and every run it
// added or took in since, as stored lines: a run in the file that is not
// here was saved by another copy of the program.
std::multiset<std::string> g_known;

// State: set once AccountName and AccountPassword hold the file's account line.
// Until then (the file was missing or unreadable when it was loaded) a save
// keeps the account line it finds in the file instead of the empty one in memory.
bool g_accountRead = false;

// A record of the score file, and how many lines without a record came
// between it and the record before it. Such lines cost a count, not an entry.
struct FileRun {
    Scores record;
    int linesBefore = 0;
};

// What reading the score file gave.
struct FileContents {
    media::OpenResult result = media::OpenResult::kAbsent;
    std::string account;                   // the unscrambled account line
    std::vector<FileRun> runs;             // in file order
    int linesAfter = 0;                    // lines without a record after the last run
    std::optional<std::string> firstName;  // the name of the first record
    bool damaged = false;                  // a line was dropped
};

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

// Reads the lines of a score file (each from next, until atEnd) into out;
// false when they pass the record or line cap.
template <class NextLine, class AtEnd>
bool ReadScoreLines(FileContents& out, NextLine next, AtEnd atEnd) {
    const std::string accountLine = next();
    out.account = Unscramble(accountLine, AccountKey);
    out.damaged = !accountLine.empty() && out.account == "XXX";
    int lineCount = 0;
    do {
        const std::string line = next();
        const std::string plain =
            line.size() >= kShortestScrambledLine ? Unscramble(line, "") : line;
        Scores record;
        if (ParseScoreLine(plain, record)) {
            if (!out.firstName) out.firstName = record.Name;
            out.runs.push_back(FileRun{std::move(record), out.linesAfter});
            out.linesAfter = 0;
        } else {
            ++out.linesAfter;
            if (!line.empty()) out.damaged = true;
        }
        if (out.runs.size() > kMaxScoreRecords || ++lineCount > kMaxScoreLines) return false;
    } while (!atEnd());
    return true;
}

// Reads the whole score file. A file that is there but cannot be read in
// full (no permission, not a regular file, an I/O error, over the size or
// record cap) is unreadable and yields no records.
FileContents ReadScoreFile(const std::string& path) {
    FileContents out;
    std::unique_ptr<media::TStream> file =
        media::OpenDataFile(path, kMaxScoreFileBytes, out.result);
    if (!file) return out;
    const bool whole = ReadScoreLines(
        out, [&] { return file->ReadLine(); }, [&] { return file->Eof(); });
    if (!whole || file->ReadFailed()) {
        out = FileContents{};
        out.result = media::OpenResult::kUnreadable;
    }
    file->Close();
    return out;
}

// Adds every run of the file that this program has not seen yet.
void MergeUnseenRuns(std::vector<FileRun>& runs) {
    std::multiset<std::string> unmatched = g_known;
    for (const Scores& r : ScoreList) unmatched.insert(StoredLine(r));
    bool added = false;
    for (FileRun& run : runs) {
        Scores& r = run.record;
        const std::string line = FormatScoreLine(r);
        auto it = unmatched.find(line);
        if (it != unmatched.end()) {
            unmatched.erase(it);
            continue;
        }
        g_known.insert(line);
        ScoreList.push_back(std::move(r));
        added = true;
    }
    if (added) SortScoreList();
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
    const std::string path = ScoreFilePath();
    FileContents file = ReadScoreFile(path);
    if (file.result == media::OpenResult::kAbsent) return;  // nothing changes
    if (file.result == media::OpenResult::kUnreadable) {
        // Keep the runs in memory; the file is kept as it is (SaveScores
        // tries again and never replaces a file it could not read).
        engine::WriteLog("\tScore file cannot be read, it is left as it is: " + path);
        return;
    }
    AccountName = GetField(file.account, "|", 1);
    AccountPassword = GetField(file.account, "|", 2);
    g_accountRead = true;

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
    g_known.clear();
    LoadOrder order;
    std::multiset<std::string> inFile;
    // Lines without a record take part too: the order is the one a re-sort
    // after every line gives.
    for (FileRun& run : file.runs) {
        for (int i = 0; i < run.linesBefore; ++i) order.Add(nullptr);
        const std::string line = FormatScoreLine(run.record);
        inFile.insert(line);
        g_known.insert(line);
        order.Add(&run.record);
    }
    for (int i = 0; i < file.linesAfter; ++i) order.Add(nullptr);
    if (file.firstName) PlayerName = *file.firstName;

    for (Scores& r : sessionRuns) {
        const std::string line = StoredLine(r);
        auto it = inFile.find(line);
        if (it != inFile.end()) {
            inFile.erase(it);
            continue;
        }
        g_known.insert(line);
        order.Add(&r);
    }
}

bool SaveScores() {
    const std::string path = ScoreFilePath();
    // Another copy of the program may have saved runs since this one read the
    // file: under the lock, read it again and take in every run not seen yet.
    media::TFileLock lock(path + ".lock", kLockWaitMs);
    if (!lock.Held()) {
        // Saving anyway keeps this run; at worst a run the other copy saves
        // at this very moment is missing from this file until its next save.
        engine::WriteLog("\tScore file lock not obtained in " + media::Str(kLockWaitMs / 1000) +
                         " s, saving without it: " + path);
    }
    FileContents file = ReadScoreFile(path);
    std::string problem;
    if (file.result == media::OpenResult::kUnreadable) {
        problem = "the file cannot be read, so it is kept";
    } else if (file.result == media::OpenResult::kOk) {
        if (!g_accountRead) {
            AccountName = GetField(file.account, "|", 1);
            AccountPassword = GetField(file.account, "|", 2);
            g_accountRead = true;
        }
        MergeUnseenRuns(file.runs);
        if (file.damaged) {
            // Lines this program could not read (another key, an editor's
            // changes) would be gone after the save: keep the old file once.
            const std::string backup = path + kBackupSuffix;
            if (media::CopyFileDurable(path, backup, kMaxScoreFileBytes)) {
                engine::WriteLog("\tScore file had unreadable lines, old file kept as " + backup);
            } else {
                problem = "could not keep the old file as " + backup;
            }
        }
    }
    if (problem.empty()) {
        std::unique_ptr<media::TStream> out = media::WriteFileDurable(path);
        if (out) {
            out->WriteLine(Scramble(AccountName + "|" + AccountPassword, AccountKey));
            SortScoreList();
            for (const Scores& r : ScoreList) out->WriteLine(Scramble(FormatScoreLine(r), ""));
        }
        if (!media::CloseFile(out)) problem = "cannot write the file";
    }
    if (problem.empty()) {
        // Replays of runs the file no longer holds go with them; while the copy
        // of a file with unreadable lines is kept, its runs may still come
        // back, and so every replay is kept.
        if (media::FileType(path + kBackupSuffix) == 0) PruneReplays(ScoreList);
        return true;
    }
    engine::WriteLog("\tScores not saved: " + problem + ": " + path);
    engine::AddNotice(kScoresNotSavedNotice, 1);
    return false;
}

bool AddRun(const Scores& record) {
    ScoreList.push_back(record);
    SortScoreList();
    g_sessionRuns.push_back(StoredLine(record));
    g_known.insert(g_sessionRuns.back());
    return SaveScores();
}

bool ReadScoreBytes(std::string_view bytes, ScoreFileRuns& out) {
    out = ScoreFileRuns{};
    if (bytes.size() > static_cast<uint64_t>(kMaxScoreFileBytes)) return false;
    FileContents file;
    size_t at = 0;
    // Lines end as TStream::ReadLine ends them: at a line feed or a zero
    // byte, with every carriage return dropped.
    auto next = [&] {
        std::string line;
        while (at < bytes.size()) {
            const char c = bytes[at++];
            if (c == '\n' || c == '\0') break;
            if (c != '\r') line.push_back(c);
        }
        return line;
    };
    if (!ReadScoreLines(file, next, [&] { return at >= bytes.size(); })) return false;
    out.account = file.account;
    for (FileRun& run : file.runs) {
        out.runs.push_back(std::move(run.record));
    }
    out.damaged = file.damaged;
    return true;
}

int MergeRuns(const std::vector<Scores>& runs, const std::string& account, bool& saved) {
    saved = true;
    std::multiset<std::string> held;
    for (const Scores& r : ScoreList) held.insert(StoredLine(r));
    int added = 0;
    for (const Scores& r : runs) {
        const std::string line = StoredLine(r);
        auto it = held.find(line);
        if (it != held.end()) {
            held.erase(it);
            continue;
        }
        // Kept like a run of this session, so a failed save does not lose it.
        ScoreList.push_back(r);
        g_sessionRuns.push_back(line);
        g_known.insert(line);
        ++added;
    }
    bool accountTaken = false;
    const std::string name = GetField(account, "|", 1);
    const std::string password = GetField(account, "|", 2);
    if (AccountName.empty() && AccountPassword.empty() && !(name.empty() && password.empty()) &&
        account != "XXX") {
        AccountName = name;
        AccountPassword = password;
        accountTaken = true;
    }
    if (added > 0 || accountTaken) {
        SortScoreList();
        saved = SaveScores();
    }
    return added;
}

void ResetScores() {
    ResetScoreGlobals();
    g_sessionRuns.clear();
    g_known.clear();
    g_accountRead = false;
}

std::string ScoreRecordJson(const Scores& r) {
    std::string out = "{\"score\":" + media::Str(r.Score);
    out += ",\"name\":";
    media::AppendJsonString(out, r.Name);
    out += ",\"badges\":" + media::Str(r.Badges);
    out += ",\"timestamp\":" + media::Str(r.Timestamp);
    out += ",\"date\":";
    media::AppendJsonString(out, DateText(r.Timestamp));
    out += ",\"time\":";
    media::AppendJsonString(out, TimeText(r.Timestamp));
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
