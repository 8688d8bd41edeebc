// The system's random source on Linux: getrandom, else "/dev/urandom".
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

#include "engine/media/random.h"

namespace media {

bool SystemRandomBytes(void* out, size_t n) {
    auto* bytes = static_cast<unsigned char*>(out);
    size_t got = 0;
    while (got < n) {
        const ssize_t r = ::getrandom(bytes + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    if (got == n) return true;
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    while (got < n) {
        const ssize_t r = ::read(fd, bytes + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    ::close(fd);
    return got == n;
}

}  // namespace media
