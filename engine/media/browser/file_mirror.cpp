// The browser's copies of the program's files in IndexedDB, and its console,
// through the script side in storage.js.
#include "engine/media/file_mirror.h"

#include <string>

extern "C" {
// The script side (storage.js); see there.
void zqfs_written(const char* path);
void zqfs_removed(const char* path);
int zqfs_problem(char* out, int size);
void zqfs_console(const char* text, int length, int warning);
}

namespace media {

namespace {

// The longest problem text passed back from the page.
constexpr int kProblemBytes = 512;

}  // namespace

void MirrorFileWritten(const std::string& path) {
    zqfs_written(path.c_str());
}

void MirrorFileRemoved(const std::string& path) {
    zqfs_removed(path.c_str());
}

std::string StorageProblem() {
    char text[kProblemBytes];
    const int n = zqfs_problem(text, kProblemBytes);
    return std::string(text, static_cast<size_t>(n > 0 ? n : 0));
}

void ConsoleLine(std::string_view text, bool warning) {
    zqfs_console(text.data(), static_cast<int>(text.size()), warning ? 1 : 0);
}

}  // namespace media
