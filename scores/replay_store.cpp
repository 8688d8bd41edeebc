// The replay folder, replay file names and pruning.
#include "scores/replay_store.h"

#include <set>

#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "scores/date_time.h"

namespace scores {

namespace {

constexpr const char* kFolderName = "replays/";
constexpr const char* kExtension = ".zqr";

bool AllDigits(const std::string& s, size_t from, size_t count) {
    if (from + count > s.size()) return false;
    for (size_t i = from; i < from + count; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
    }
    return true;
}

}  // namespace

std::string ReplayFolder() {
    return media::FolderOf(media::ProgramPaths().scoreFile) + kFolderName;
}

std::string ReplayFileName(const Scores& record) {
    // DateText is "dd-mm-yyyy" and TimeText "hh:mm:ss"; the name sorts by time.
    const std::string date = DateText(record.Timestamp);
    const std::string time = TimeText(record.Timestamp);
    const std::string score = std::to_string(record.Score < 0 ? 0 : record.Score);
    if (date.size() != 10 || time.size() != 8) {
        // Only a hand-made record has a timestamp outside the calendar.
        return "run-" + std::to_string(record.Timestamp < 0 ? 0 : record.Timestamp) + "_" + score +
               kExtension;
    }
    std::string name = date.substr(6) + "-" + date.substr(3, 2) + "-" + date.substr(0, 2) + "_" +
                       time.substr(0, 2) + "-" + time.substr(3, 2) + "-" + time.substr(6, 2) + "_" +
                       score;
    return name + kExtension;
}

std::string ReplayPath(const Scores& record) {
    return ReplayFolder() + ReplayFileName(record);
}

bool HasReplay(const Scores& record) {
    return media::FileType(ReplayPath(record)) == 1;
}

bool IsReplayFileName(const std::string& name) {
    // yyyy-mm-dd_hh-mm-ss_<digits>.zqr
    static const std::string kExt = kExtension;
    if (name.size() < 21 + kExt.size() ||
        name.compare(name.size() - kExt.size(), kExt.size(), kExt) != 0) {
        return false;
    }
    if (!AllDigits(name, 0, 4) || name[4] != '-' || !AllDigits(name, 5, 2) || name[7] != '-' ||
        !AllDigits(name, 8, 2) || name[10] != '_' || !AllDigits(name, 11, 2) || name[13] != '-' ||
        !AllDigits(name, 14, 2) || name[16] != '-' || !AllDigits(name, 17, 2) || name[19] != '_') {
        return false;
    }
    return AllDigits(name, 20, name.size() - kExt.size() - 20);
}

int PruneReplays(const std::list<Scores>& list) {
    std::set<std::string> kept;
    for (const Scores& record : list) kept.insert(ReplayFileName(record));
    const std::string folder = ReplayFolder();
    int removed = 0;
    for (const std::string& name : media::ListFiles(folder)) {
        if (!IsReplayFileName(name) || kept.count(name)) continue;
        if (media::DeleteFile(folder + name)) ++removed;
    }
    return removed;
}

}  // namespace scores
