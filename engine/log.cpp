// The log writer over one media-layer stream.
#include "engine/log.h"

#include <memory>

#include "engine/media/asset_read.h"
#include "engine/media/files.h"

namespace engine {

namespace {

std::unique_ptr<media::TStream> g_logFile;

}  // namespace

bool OpenLog(const std::string& path) {
    CloseLog();
    g_logFile = media::WriteFile(path);
    // Images, sounds and fonts that cannot be loaded are reported here from now on.
    if (g_logFile) media::SetLoadFailureSink(WriteLog);
    return g_logFile != nullptr;
}

void WriteLog(std::string_view text) {
    if (g_logFile) g_logFile->WriteLine(text);
}

void CloseLog() {
    media::CloseFile(g_logFile);
}

bool LogIsOpen() {
    return g_logFile != nullptr;
}

}  // namespace engine
