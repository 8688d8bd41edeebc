// The replay folder, replay file names and pruning.
#include "scores/replay_store.h"

#include <cstdio>
#include <set>
#include <string_view>

#include "engine/media/binary_files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "engine/media/text.h"
#include "scores/fields/date_time.h"
#include "scores/fields/get_field.h"
#include "scores/score_file.h"

namespace scores {

namespace {

constexpr const char* kFolderName = "replays/";
// Length of "yyyy-mm-dd_hh-mm-ss_", the start of every name the store makes.
constexpr size_t kTimePrefix = 20;
constexpr size_t kCheckDigits = 8;
// Replays of identical runs are told apart by "-2", "-3" ... up to this.
constexpr int kMaxOrdinal = 100;

// Returns the run's time and score as a name stem, e.g. "2026-12-08_07-35-59_12345".
std::string TimeAndScore(const Scores& record) {
    // DateText is "dd-mm-yyyy" and TimeText "hh:mm:ss"; the name sorts by time.
    const std::string date = DateText(record.Timestamp);
    const std::string time = TimeText(record.Timestamp);
    const std::string score = std::to_string(record.Score < 0 ? 0 : record.Score);
    if (date.size() != 10 || time.size() != 8) {
        // Only a hand-made record has a timestamp outside the calendar.
        return "run-" + std::to_string(record.Timestamp < 0 ? 0 : record.Timestamp) + "_" + score;
    }
    return date.substr(6) + "-" + date.substr(3, 2) + "-" + date.substr(0, 2) + "_" +
           time.substr(0, 2) + "-" + time.substr(3, 2) + "-" + time.substr(6, 2) + "_" + score;
}

// Returns the stem of the run's own name: time, score and the check value of
// its score line as the file stores it (so a reload gives the same name).
std::string OwnStem(const Scores& record) {
    Scores stored;
    ParseScoreLine(FormatScoreLine(record), stored);
    char check[kCheckDigits + 1];
    std::snprintf(check, sizeof check, "%08x",
                  static_cast<unsigned>(media::Crc32(FormatScoreLine(stored))));
    return TimeAndScore(record) + "_" + check;
}

// Returns the name without a "-N" that tells identical runs' replays apart.
std::string WithoutOrdinal(const std::string& name) {
    const size_t ext = name.size() - std::string_view(kReplayExtension).size();
    const size_t dash = name.rfind('-', ext);
    if (dash == std::string::npos || dash < kTimePrefix ||
        !media::AllDigits(std::string_view(name).substr(dash + 1, ext - dash - 1))) {
        return name;
    }
    return name.substr(0, dash) + kReplayExtension;
}

// Returns true when text is kCheckDigits lower-case hexadecimal digits.
bool IsCheck(std::string_view text) {
    if (text.size() != kCheckDigits) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

}  // namespace

std::string ReplayFolder() {
    return media::FolderOf(media::ProgramPaths().scoreFile) + kFolderName;
}

std::string ReplayFileName(const Scores& record) {
    return OwnStem(record) + kReplayExtension;
}

std::string ReplayPath(const Scores& record) {
    const std::string own = ReplayFolder() + ReplayFileName(record);
    const std::string earlier = ReplayFolder() + TimeAndScore(record) + kReplayExtension;
    if (media::FileType(own) != 1 && media::FileType(earlier) == 1) return earlier;
    return own;
}

std::string NewReplayPath(const Scores& record) {
    const std::string stem = ReplayFolder() + OwnStem(record);
    std::string path = stem + kReplayExtension;
    for (int n = 2; n <= kMaxOrdinal && media::FileType(path) != 0; ++n) {
        path = stem + "-" + std::to_string(n) + kReplayExtension;
    }
    return path;
}

bool HasReplay(const Scores& record) {
    return media::FileType(ReplayPath(record)) == 1;
}

bool IsReplayFileName(const std::string& name) {
    // yyyy-mm-dd_hh-mm-ss_<digits>[_<8 hex digits>[-<digits>]].zqr
    const std::string_view ext = kReplayExtension;
    if (name.size() < kTimePrefix + 1 + ext.size() ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0) {
        return false;
    }
    const std::string_view n(name);
    if (!media::AllDigits(n.substr(0, 4)) || n[4] != '-' || !media::AllDigits(n.substr(5, 2)) ||
        n[7] != '-' || !media::AllDigits(n.substr(8, 2)) || n[10] != '_' ||
        !media::AllDigits(n.substr(11, 2)) || n[13] != '-' || !media::AllDigits(n.substr(14, 2)) ||
        n[16] != '-' || !media::AllDigits(n.substr(17, 2)) || n[19] != '_') {
        return false;
    }
    const std::string plain = WithoutOrdinal(name);
    std::string_view rest =
        std::string_view(plain).substr(kTimePrefix, plain.size() - kTimePrefix - ext.size());
    const size_t bar = rest.find('_');
    if (bar == std::string_view::npos) return plain == name && media::AllDigits(rest);
    return media::AllDigits(rest.substr(0, bar)) && IsCheck(rest.substr(bar + 1));
}

std::string ReplayNameWithOrdinal(const std::string& name, int n) {
    if (n < 2 || n > kMaxOrdinal || !IsReplayFileName(name)) return "";
    const std::string plain = WithoutOrdinal(name);
    const size_t ext = plain.size() - std::string_view(kReplayExtension).size();
    const std::string named = plain.substr(0, ext) + "-" + std::to_string(n) + kReplayExtension;
    return IsReplayFileName(named) ? named : "";
}

int PruneReplays(const std::list<Scores>& list) {
    std::set<std::string> kept;
    for (const Scores& record : list) {
        kept.insert(ReplayFileName(record));
        kept.insert(TimeAndScore(record) + kReplayExtension);  // the name earlier versions gave
    }
    const std::string folder = ReplayFolder();
    int removed = 0;
    for (const std::string& name : media::ListFiles(folder)) {
        if (!IsReplayFileName(name) || kept.count(WithoutOrdinal(name))) continue;
        if (media::DeleteFile(folder + name)) ++removed;
    }
    return removed;
}

}  // namespace scores
