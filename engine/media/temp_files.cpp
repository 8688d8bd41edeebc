// Temporary file names of the durable writer and their clean-up.
#include "engine/media/temp_files.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "engine/media/folders.h"
#include "engine/media/text.h"

namespace media {

namespace {

// Marks a durable save's temporary file: "<name>.tmp-<pid>-XXXXXX".
constexpr std::string_view kTempMark = ".tmp-";
// mkstemp replaces this many X's.
constexpr size_t kRandomPart = 6;
// Process numbers on Linux stay below 2^22; more digits name no process.
constexpr size_t kMaxPidDigits = 9;

bool IsLetterOrDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Returns true for "<name>.tmp-<pid>-XXXXXX" (mkstemp's letters and digits)
// whose process number names no running process.
bool IsStaleTempName(std::string_view name) {
    size_t mark = name.rfind(kTempMark);
    if (mark == std::string_view::npos || mark == 0) return false;
    std::string_view tail = name.substr(mark + kTempMark.size());
    size_t dash = tail.find('-');
    if (dash == std::string_view::npos || tail.size() - dash - 1 != kRandomPart) return false;
    for (char c : tail.substr(dash + 1)) {
        if (!IsLetterOrDigit(c)) return false;
    }
    std::string_view pidText = tail.substr(0, dash);
    if (!AllDigits(pidText) || pidText.size() > kMaxPidDigits || pidText[0] == '0') return false;
    pid_t pid = static_cast<pid_t>(std::stol(std::string(pidText)));
    if (pid == ::getpid()) return false;
    // EPERM means the process runs under another user: its save is alive.
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

std::string TempFileTemplate(const std::string& target) {
    return target + std::string(kTempMark) + std::to_string(::getpid()) + "-" +
           std::string(kRandomPart, 'X');
}

int RemoveStaleTempFiles(const std::string& folder) {
    int removed = 0;
    for (const std::string& name : ListFiles(folder)) {
        if (IsStaleTempName(name) && ::unlink((AsFolder(folder) + name).c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace media
