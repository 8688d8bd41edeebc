// Export and import of the player's files. The import writes replays first
// and merges the runs last: a replay whose run the score file then lacks is
// pruned by the save, as every such replay is, while a run never points at a
// replay that is not there yet.
#include "scores/your_files.h"

#include <cstddef>
#include <memory>

#include "engine/log.h"
#include "engine/media/asset_read.h"
#include "engine/media/durable_file.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "engine/media/zip_archive.h"
#include "scores/replay_store.h"
#include "scores/score_file.h"

namespace scores {

namespace {

// The folder replays have inside the archive, as in the game's folder.
constexpr const char* kArchiveReplayFolder = "replays/";
// The largest replay read or written (the replay reader's own cap).
constexpr size_t kMaxReplayBytes = size_t{16} << 20;
// The largest score file (the score file's own cap).
constexpr size_t kMaxScoreBytes = size_t{16} << 20;
// Names of files left out of an import listed one by one before a count.
constexpr size_t kListedLeftOut = 5;

// Returns the score file's path: fixed at start-up, else in the current folder.
std::string ScoreFilePath() {
    return media::ProgramPathOr(media::ProgramPaths().scoreFile, kScoreFileName);
}

// Returns the last part of a member's name.
std::string_view BaseName(std::string_view name) {
    const size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

// Returns how many folders deep a member lies.
size_t Depth(std::string_view name) {
    size_t n = 0;
    for (char c : name) n += c == '/';
    return n;
}

// The members an import reads: the score file and the replays beside it, all
// under one folder of the archive (empty for the top).
struct ImportPlan {
    const media::TZipEntry* scoreFile = nullptr;
    std::vector<const media::TZipEntry*> replays;
    std::vector<std::string> leftOut;
};

// Picks the score file nearest the top, and the replays in the "replays/"
// folder beside it (or, without a score file, in the first such folder).
ImportPlan PlanImport(const std::vector<media::TZipEntry>& entries) {
    ImportPlan plan;
    for (const media::TZipEntry& e : entries) {
        if (BaseName(e.name) == kScoreFileName &&
            (plan.scoreFile == nullptr || Depth(e.name) < Depth(plan.scoreFile->name))) {
            plan.scoreFile = &e;
        }
    }
    std::string prefix;
    bool prefixKnown = plan.scoreFile != nullptr;
    if (prefixKnown) prefix = plan.scoreFile->name.substr(0, plan.scoreFile->name.size() -
                                                             std::string_view(kScoreFileName).size());
    for (const media::TZipEntry& e : entries) {
        if (&e == plan.scoreFile) continue;
        const std::string base(BaseName(e.name));
        const std::string folder = e.name.substr(0, e.name.size() - base.size());
        const bool inReplays = folder.size() >= std::string_view(kArchiveReplayFolder).size() &&
                               folder.compare(folder.size() - std::string_view(kArchiveReplayFolder).size(),
                                              std::string::npos, kArchiveReplayFolder) == 0;
        if (inReplays && IsReplayFileName(base)) {
            const std::string at = folder.substr(0, folder.size() - std::string_view(kArchiveReplayFolder).size());
            if (!prefixKnown) {
                prefix = at;
                prefixKnown = true;
            }
            if (at == prefix) {
                plan.replays.push_back(&e);
                continue;
            }
        }
        plan.leftOut.push_back(e.name);
    }
    return plan;
}

// Reads a stored file whole (at most maxBytes); false when it is not there or cannot be read.
bool ReadStored(const std::string& path, size_t maxBytes, std::string& out, std::string& why) {
    return media::ReadAssetFile(path, maxBytes, out, why) == media::AssetRead::kOk;
}

// Writes bytes durably to path; true when they are all there.
bool WriteStored(const std::string& path, std::string_view bytes) {
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(path);
    if (!out) return false;
    out->WriteBytes(bytes.data(), bytes.size());
    return media::CloseFile(out);
}

// Stores one replay of the archive beside the stored ones, never over one.
void ImportReplay(const std::string& name, const std::string& bytes, ImportReport& report) {
    const std::string folder = ReplayFolder();
    std::string candidate = name;
    for (int n = 2;; ++n) {
        const std::string path = folder + candidate;
        const int type = media::FileType(path);
        if (type == 0) {
            if (!WriteStored(path, bytes)) {
                report.problems.push_back(name + ": could not be saved");
                return;
            }
            ++(candidate == name ? report.replaysAdded : report.replaysRenamed);
            return;
        }
        std::string stored;
        std::string why;
        if (type == 1 && ReadStored(path, kMaxReplayBytes, stored, why) && stored == bytes) {
            ++report.replaysPresent;
            return;
        }
        candidate = ReplayNameWithOrdinal(name, n);
        if (candidate.empty()) {
            report.problems.push_back(name + ": a different replay of that name is kept; this one was not imported");
            return;
        }
    }
}

}  // namespace

bool ExportYourFiles(std::string& out, std::vector<std::string>& problems) {
    std::vector<media::TZipMember> members;
    std::string why;
    media::TZipMember score{kScoreFileName, ""};
    const media::AssetRead read = media::ReadAssetFile(ScoreFilePath(), kMaxScoreBytes, score.bytes, why);
    if (read == media::AssetRead::kOk) {
        members.push_back(std::move(score));
    } else if (read == media::AssetRead::kRefused) {
        problems.push_back(std::string(kScoreFileName) + ": " + why);
    }
    const std::string folder = ReplayFolder();
    for (const std::string& name : media::ListFiles(folder)) {
        if (!IsReplayFileName(name)) continue;
        media::TZipMember replay{kArchiveReplayFolder + name, ""};
        if (ReadStored(folder + name, kMaxReplayBytes, replay.bytes, why)) {
            members.push_back(std::move(replay));
        } else {
            problems.push_back(replay.name + ": " + why);
        }
    }
    if (members.empty()) {
        problems.push_back("there are no scores or replays to export yet");
        return false;
    }
    std::string error;
    if (!media::WriteZip(members, out, error)) {
        problems.push_back("the archive could not be made: " + error);
        return false;
    }
    return true;
}

bool ImportYourFiles(std::string_view archive, ImportReport& report) {
    report = ImportReport{};
    media::TZipReader reader;
    std::string error;
    if (!reader.Open(archive, error)) {
        report.problems.push_back("The archive cannot be read: " + error);
        engine::WriteLog("\tImport refused: " + error);
        return false;
    }
    const ImportPlan plan = PlanImport(reader.Entries());
    if (plan.scoreFile == nullptr && plan.replays.empty()) {
        report.problems.push_back(std::string("The archive holds no ") + kScoreFileName + " and no replays");
        return false;
    }
    if (!plan.replays.empty() && !media::MakeFolders(ReplayFolder())) {
        report.problems.push_back("the replays folder cannot be made: " + ReplayFolder());
    } else {
        for (const media::TZipEntry* e : plan.replays) {
            std::string bytes;
            if (e->size > kMaxReplayBytes) {
                report.problems.push_back(e->name + ": larger than a replay can be");
            } else if (!reader.Extract(*e, bytes, error)) {
                report.problems.push_back(error);
            } else {
                ImportReplay(std::string(BaseName(e->name)), bytes, report);
            }
        }
    }
    if (plan.scoreFile != nullptr) {
        std::string bytes;
        ScoreFileRuns file;
        if (!reader.Extract(*plan.scoreFile, bytes, error)) {
            report.problems.push_back(error);
        } else if (!ReadScoreBytes(bytes, file)) {
            report.problems.push_back(plan.scoreFile->name + ": larger than a score file can be");
        } else {
            if (file.damaged) {
                report.problems.push_back(plan.scoreFile->name + ": some lines could not be read and were left out");
            }
            LoadScores();
            bool saved = true;
            report.runsAdded = MergeRuns(file.runs, file.account, saved);
            report.runsPresent = static_cast<int>(file.runs.size()) - report.runsAdded;
            if (!saved) report.problems.push_back(std::string(kScoreFileName) + ": the merged runs could not be saved");
        }
    }
    if (!plan.leftOut.empty()) {
        std::string list;
        for (size_t i = 0; i < plan.leftOut.size() && i < kListedLeftOut; ++i) {
            list += (i ? ", " : "") + plan.leftOut[i];
        }
        if (plan.leftOut.size() > kListedLeftOut) {
            list += " and " + std::to_string(plan.leftOut.size() - kListedLeftOut) + " more";
        }
        report.problems.push_back("left out (not a score file or replay): " + list);
    }
    engine::WriteLog("\tImported " + std::to_string(report.runsAdded) + " runs and " +
                     std::to_string(report.replaysAdded + report.replaysRenamed) + " replays");
    return true;
}

}  // namespace scores
