// The log writer over one media-layer stream. Every line also goes to the
// platform's console (the browser's; the desktop has none), where a page's
// player can see it without a file to open.
#include "engine/log.h"

#include <memory>

#include "engine/media/asset_read.h"
#include "engine/media/file_mirror.h"
#include "engine/media/files.h"

namespace engine {

namespace {

std::unique_ptr<media::TStream> g_logFile;

// Logs a file that could not be loaded, as a warning in the console.
void WriteLoadFailure(std::string_view text) {
    media::ConsoleLine(text, true);
    if (g_logFile) g_logFile->WriteLine(text);
}

}  // namespace

bool OpenLog(const std::string& path) {
    CloseLog();
    g_logFile = media::WriteFile(path);
    // Images, sounds and fonts that cannot be loaded are reported here from now on.
    if (g_logFile) media::SetLoadFailureSink(WriteLoadFailure);
    return g_logFile != nullptr;
}

void WriteLog(std::string_view text) {
    media::ConsoleLine(text, false);
    if (g_logFile) g_logFile->WriteLine(text);
}

void CloseLog() {
    media::CloseFile(g_logFile);
}

bool LogIsOpen() {
    return g_logFile != nullptr;
}

}  // namespace engine
