// The desktop keeps its files where it writes them: nothing is mirrored, and
// log lines go only to the log file.
#include "engine/media/file_mirror.h"

namespace media {

void MirrorFileWritten(const std::string&) {}

void MirrorFileRemoved(const std::string&) {}

std::string StorageProblem() {
    return "";
}

void ConsoleLine(std::string_view, bool) {}

}  // namespace media
