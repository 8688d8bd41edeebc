// The program the browser test of the file mirror runs (storage_page.py):
// each start it reports what the page's store gave back in the game's folder,
// then saves Setup.ini anew with one more start counted, keeps a replay, and
// from the second start on removes "old.txt", all through the durable writer
// the game uses. The page asks probe_problem() what the store reported, and
// tries the HTTP client's fetch() form with probe_fetch() and probe_fetch_poll();
// the first start also stores a run and its replay for "Your files".
#include <emscripten.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/http/http_client.h"
#include "engine/log.h"
#include "engine/media/asset_read.h"
#include "engine/media/durable_file.h"
#include "engine/media/file_mirror.h"
#include "engine/media/folders.h"
#include "engine/media/paths.h"
#include "scores/fields/date_time.h"
#include "scores/replay_store.h"
#include "scores/score_file.h"
#include "share/token_file.h"

namespace {

constexpr const char* kFolder = "/zarquill/";
constexpr size_t kMostBytes = 1 << 20;

// Returns the file's bytes, or "-" when it cannot be read.
std::string Read(const std::string& name) {
    std::string bytes;
    std::string why;
    if (media::ReadAssetFile(kFolder + name, kMostBytes, bytes, why) != media::AssetRead::kOk) {
        return "-";
    }
    return bytes;
}

// Saves bytes as the game saves its files.
bool Save(const std::string& name, const std::string& bytes) {
    std::unique_ptr<media::TStream> out = media::WriteFileDurable(kFolder + name);
    if (!out) return false;
    out->WriteBytes(bytes.data(), bytes.size());
    return media::CloseFile(out);
}

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE const char* probe_problem() {
    static std::string problem;
    problem = media::StorageProblem();
    return problem.c_str();
}

// State: the one request the page tries at a time, and what it gave.
media::TFetcher* g_fetcher = nullptr;
std::string g_answer;

// Starts a GET of url with a time limit (the answer is read with probe_fetch_poll).
extern "C" EMSCRIPTEN_KEEPALIVE void probe_fetch(const char* url, int timeoutMs) {
    static media::TFetcher fetcher;
    g_fetcher = &fetcher;
    g_answer.clear();
    media::THttpRequest request;
    request.url = url;
    request.totalTimeoutMs = timeoutMs;
    request.maxResponseBytes = 4096;
    fetcher.Start(request, [](const media::THttpResponse& r) {
        g_answer = std::to_string(r.status) + " " + std::to_string(static_cast<int>(r.error)) +
                   " " + std::to_string(r.body.size()) + " " + r.errorText;
    });
}

// Cancels the request out.
extern "C" EMSCRIPTEN_KEEPALIVE void probe_fetch_cancel() {
    if (g_fetcher) g_fetcher->Cancel();
}

// Returns "status error bytes text" once the answer is in, else "".
extern "C" EMSCRIPTEN_KEEPALIVE const char* probe_fetch_poll() {
    if (g_fetcher) g_fetcher->Poll();
    return g_answer.c_str();
}

int main() {
    media::TProgramPaths paths;
    paths.scoreFile = std::string(kFolder) + "nuscores.dat";
    media::SetProgramPaths(paths);
    const std::string setup = Read("Setup.ini");
    const int starts = setup.rfind("starts=", 0) == 0 ? std::atoi(setup.c_str() + 7) : 0;
    const std::string replay = Read("replays/a.zqr");
    std::printf("found starts=%d replay=%d old=%s\n", starts,
                replay == "-" ? -1 : static_cast<int>(replay.size()), Read("old.txt").c_str());
    engine::WriteLog("\tprobe: a log line for the console");
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes.push_back(static_cast<char>(i * 31 % 251));
    media::MakeFolders(std::string(kFolder) + "replays");
    bool saved = Save("Setup.ini", "starts=" + std::to_string(starts + 1)) &&
                       Save("replays/a.zqr", bytes) && (starts > 0 || Save("old.txt", "old"));
    if (starts > 0) media::DeleteFile(std::string(kFolder) + "old.txt");
    // One run with its replay, for the page's "Your files".
    scores::LoadScores();
    if (starts == 0) {
        scores::Scores run;
        run.Name = "Probe";
        run.Score = 4321;
        run.Timestamp = scores::DateTimeNumber(2026, 12, 8, 12, 0, 0);
        saved = scores::AddRun(run) && saved;
        saved = Save("replays/" + scores::ReplayFileName(run), "probe replay") && saved;
    }
    std::printf("saved=%d\n", saved ? 1 : 0);
    // The player's token comes from the page's random source and is kept in the folder.
    std::string problem;
    const std::string token = scores::BoardToken(problem);
    std::printf("token=%s%s\n", token.c_str(), problem.c_str());
    std::printf("done\n");
    return 0;
}
