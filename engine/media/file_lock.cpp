// The lock file: flock polled until it is free or the wait is over.
#include "engine/media/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace media {

namespace {

constexpr int kPollMs = 5;

}  // namespace

TFileLock::TFileLock(const std::string& path, int waitMs) {
    // A new lock file follows the umask, like every file the program makes.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (true) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= until) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

TFileLock::~TFileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace media
