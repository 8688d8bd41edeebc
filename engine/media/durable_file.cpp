// The durable writer: a temporary file beside the target, synced and renamed
// over it on Close.
#include "engine/media/durable_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

#include "engine/media/file_mirror.h"
#include "engine/media/folders.h"
#include "engine/media/temp_files.h"

namespace media {

namespace {

// Symbolic links followed before a durable save gives up on resolving one.
constexpr int kMaxLinkDepth = 40;
constexpr size_t kCopyChunk = 65536;

// Returns the file a chain of symbolic links at path ends in (path itself
// when it is no link, or when the chain is too long to follow).
std::string FollowLinks(std::string path) {
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        char buf[PATH_MAX];
        ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
        if (n <= 0) return path;
        std::string target(buf, static_cast<size_t>(n));
        path = target[0] == '/' ? target : FolderOf(path) + target;
    }
    return path;
}

// Returns the permission bits a new file gets under the process's umask; the
// owner may always read and write it, since the program reads its files back
// (the browser build's C library reports a umask that would leave none).
mode_t NewFileMode() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return (0666 & ~mask) | 0600;
}

// Holds a durable save between its written temporary file and the rename for
// ZQ_TEST_SAVE_PAUSE_MS milliseconds (at most a minute), so that the
// end-to-end tests can kill the program inside a save; unset, it does nothing.
void PauseBeforeRenameForTests() {
    if (const char* ms = std::getenv("ZQ_TEST_SAVE_PAUSE_MS")) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(std::atoi(ms), 0, 60000)));
    }
}

}  // namespace

void TStream::CommitDurable() {
    if (good_ && ::fsync(fd_) != 0) good_ = false;
    if (::close(fd_) != 0) good_ = false;
    fd_ = -1;
    if (good_) PauseBeforeRenameForTests();
    if (good_ && ::rename(temp_path_.c_str(), durable_target_.c_str()) != 0) good_ = false;
    if (good_) {
        // Make the rename itself durable.
        const std::string folder = FolderOf(durable_target_);
        int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        MirrorFileWritten(durable_target_);
    } else {
        ::unlink(temp_path_.c_str());
    }
    durable_target_.clear();
}

void TStream::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    durable_target_.clear();
    good_ = false;
}

std::unique_ptr<TStream> WriteFileDurable(const std::string& path, bool privateFile) {
    const std::string target = FollowLinks(path);
    std::string temp = TempFileTemplate(target);
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (privateFile) {
        ::fchmod(fd, 0600);
    } else if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        ::fchmod(fd, st.st_mode & 07777);
    } else {
        ::fchmod(fd, NewFileMode());
    }
    std::unique_ptr<TStream> stream(new TStream(fd, false));
    stream->durable_target_ = target;
    stream->temp_path_ = temp;
    return stream;
}

bool CopyFileDurable(const std::string& from, const std::string& to, int64_t maxBytes) {
    OpenResult result;
    std::unique_ptr<TStream> in = OpenDataFile(from, maxBytes, result);
    if (!in) return false;
    std::unique_ptr<TStream> out = WriteFileDurable(to);
    if (!out) return false;
    char chunk[kCopyChunk];
    while (size_t n = in->ReadBytes(chunk, sizeof chunk)) out->WriteBytes(chunk, n);
    if (in->ReadFailed()) return false;  // the unclosed copy is dropped
    return CloseFile(out);
}

}  // namespace media
