// The queue file. A run is written to it as "queued" before anything is sent
// and changes only when the board has answered, so a send that fails, is
// cancelled or dies with the program leaves the run queued for the next try.
#include "share/queue_file.h"

#include <nlohmann/json.hpp>

#include <memory>

#include "engine/log.h"
#include "engine/media/durable_file.h"
#include "engine/media/files.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "scores/score_file.h"
#include "share/share_text.h"

namespace scores {

namespace {

using nlohmann::json;
using share_text::IdField;
using share_text::StringField;

// The largest queue file read.
constexpr int64_t kMaxQueueFileBytes = 8 << 20;

const char* const kStateNames[] = {"queued", "pending", "verified", "rejected", "refused"};

}  // namespace

std::string BoardQueuePath() {
    return media::FolderOf(
               media::ProgramPathOr(media::ProgramPaths().scoreFile, kScoreFileName)) +
           kBoardQueueFileName;
}

std::string FormatBoardRun(const BoardRun& run) {
    json j = {{"replay", run.replay},
              {"server", run.server},
              {"state", kStateNames[static_cast<int>(run.state)]},
              {"id", run.id},
              {"rank", run.rank},
              {"difficulty", run.difficulty},
              {"name", run.name},
              {"reason", run.reason},
              {"noticed", run.noticed}};
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

bool ParseBoardRun(std::string_view line, BoardRun& out) {
    const json j = json::parse(line, nullptr, false);
    if (!j.is_object()) return false;
    BoardRun run;
    run.replay = StringField(j, "replay");
    run.server = StringField(j, "server");
    const std::string state = StringField(j, "state");
    bool known = false;
    for (int i = 0; i < 5; ++i) {
        if (state == kStateNames[i]) {
            run.state = static_cast<BoardState>(i);
            known = true;
        }
    }
    if (!known || run.replay.empty() || run.replay[0] != '/') return false;
    run.id = IdField(j, "id");
    run.rank = IdField(j, "rank");
    if (run.state != BoardState::kQueued && run.state != BoardState::kRefused && run.id == 0) {
        return false;  // a state the board gave needs the board's id
    }
    run.difficulty = StringField(j, "difficulty");
    if (!run.difficulty.empty() && run.difficulty != "easy" && run.difficulty != "medium" &&
        run.difficulty != "hard") {
        return false;
    }
    run.name = StringField(j, "name");
    run.reason = StringField(j, "reason");
    auto noticed = j.find("noticed");
    run.noticed = noticed != j.end() && noticed->is_boolean() && noticed->get<bool>();
    out = std::move(run);
    return true;
}

std::vector<BoardRun> LoadBoardQueue() {
    std::vector<BoardRun> runs;
    const std::string path = BoardQueuePath();
    media::OpenResult result;
    std::unique_ptr<media::TStream> in = media::OpenDataFile(path, kMaxQueueFileBytes, result);
    if (result == media::OpenResult::kAbsent) return runs;
    if (!in) {
        engine::WriteLog("\tBoard: the queue " + path + " cannot be read");
        return runs;
    }
    int junk = 0;
    while (!in->Eof()) {
        const std::string line = in->ReadLine();
        if (line.empty()) continue;
        BoardRun run;
        if (ParseBoardRun(line, run)) {
            MergeBoardRun(runs, run);
        } else {
            ++junk;
        }
    }
    if (in->ReadFailed()) engine::WriteLog("\tBoard: the queue " + path + " was not read in full");
    if (junk > 0) {
        engine::WriteLog("\tBoard: " + std::to_string(junk) + " unreadable lines in " + path +
                         " skipped");
    }
    return runs;
}

bool SaveBoardQueue(const std::vector<BoardRun>& runs) {
    const std::string path = BoardQueuePath();
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(path);
    if (out) {
        for (const BoardRun& run : runs) out->WriteLine(FormatBoardRun(run));
    }
    if (media::CloseFile(out)) return true;
    engine::WriteLog("\tBoard: the queue " + path + " cannot be written");
    return false;
}

bool IsWaiting(const BoardRun& run, const std::string& server) {
    return run.state == BoardState::kQueued ||
           (run.state == BoardState::kPending && run.server == server);
}

void MergeBoardRun(std::vector<BoardRun>& runs, const BoardRun& run) {
    for (BoardRun& r : runs) {
        if (r.replay == run.replay) {
            r = run;
            return;
        }
    }
    runs.push_back(run);
}

}  // namespace scores
