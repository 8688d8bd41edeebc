// The page's side of "Your files" in the browser build: the entry points the
// page's script (storage.js: Module.zqFiles.exportArchive, download,
// importArchive, importFile) calls to make the archive of the player's files
// and to merge an archive the player picked. Each call's outcome is kept here
// until the next, for the script to read.
#include <emscripten.h>

#include <string>
#include <vector>

#include "engine/media/text.h"
#include "engine/media/zip_archive.h"
#include "scores/your_files.h"

namespace {

// State: the last archive made or handed in, and the last call's report (JSON).
std::string g_archive;
std::string g_report;

// Returns the report's JSON: the outcome, the counts of an import, and the problems.
std::string ReportJson(bool ok, const scores::ImportReport* import,
                       const std::vector<std::string>& problems) {
    std::string out = ok ? "{\"ok\":true" : "{\"ok\":false";
    if (import) {
        out += ",\"runsAdded\":" + std::to_string(import->runsAdded);
        out += ",\"runsPresent\":" + std::to_string(import->runsPresent);
        out += ",\"replaysAdded\":" + std::to_string(import->replaysAdded);
        out += ",\"replaysRenamed\":" + std::to_string(import->replaysRenamed);
        out += ",\"replaysPresent\":" + std::to_string(import->replaysPresent);
    }
    out += ",\"problems\":[";
    for (size_t i = 0; i < problems.size(); ++i) {
        if (i > 0) out += ",";
        media::AppendJsonString(out, problems[i], media::JsonBytes::kPath);
    }
    return out + "]}";
}

}  // namespace

extern "C" {

// Makes the archive of the player's files; returns 1 when there is one (its
// bytes at zq_your_files_archive, zq_your_files_archive_size bytes long).
EMSCRIPTEN_KEEPALIVE int zq_your_files_export() {
    std::vector<std::string> problems;
    g_archive.clear();
    const bool ok = scores::ExportYourFiles(g_archive, problems);
    g_report = ReportJson(ok, nullptr, problems);
    return ok ? 1 : 0;
}

// Returns where the last archive made starts.
EMSCRIPTEN_KEEPALIVE const char* zq_your_files_archive() {
    return g_archive.data();
}

// Returns the size of the last archive made.
EMSCRIPTEN_KEEPALIVE int zq_your_files_archive_size() {
    return static_cast<int>(g_archive.size());
}

// Returns room for an archive of size bytes that the page copies in before
// zq_your_files_import; null for a size the archive reader would refuse.
EMSCRIPTEN_KEEPALIVE char* zq_your_files_buffer(int size) {
    if (size < 0 || static_cast<size_t>(size) > media::kZipMaxArchiveBytes) return nullptr;
    g_archive.assign(static_cast<size_t>(size), '\0');
    return g_archive.data();
}

// Merges the archive the page copied in into the stored files; returns 1 when
// it could be read (the report tells what was taken and what not).
EMSCRIPTEN_KEEPALIVE int zq_your_files_import() {
    scores::ImportReport report;
    const bool ok = scores::ImportYourFiles(g_archive, report);
    g_report = ReportJson(ok, &report, report.problems);
    g_archive.clear();
    g_archive.shrink_to_fit();
    return ok ? 1 : 0;
}

// Returns the last call's report as JSON.
EMSCRIPTEN_KEEPALIVE const char* zq_your_files_report() {
    return g_report.c_str();
}

}  // extern "C"
