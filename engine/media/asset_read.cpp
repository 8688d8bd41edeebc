// Capped, non-blocking reads of outside files and the load-failure sink.
#include "engine/media/asset_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace media {

namespace {

// Closes a descriptor when it goes out of scope.
class FdGuard {
  public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;

  private:
    int fd_;
};

LoadFailureSink& Sink() {
    static LoadFailureSink sink;
    return sink;
}

AssetRead Fail(std::string& out, std::string& why, std::string reason) {
    out.clear();
    why = std::move(reason);
    return AssetRead::kRefused;
}

}  // namespace

AssetRead ReadAssetFile(const std::string& path, size_t max_bytes, std::string& out,
                        std::string& why) {
    out.clear();
    why.clear();
    // Non-blocking, so that a FIFO without a writer cannot hold the program;
    // no controlling terminal, in case the path names one.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) return Fail(out, why, std::strerror(errno));
        why = "missing";
        return AssetRead::kMissing;
    }
    FdGuard guard(fd);
    struct stat st;
    if (::fstat(fd, &st) != 0) return Fail(out, why, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return Fail(out, why, "not a regular file");
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > max_bytes) {
        return Fail(out, why, "larger than " + std::to_string(max_bytes) + " bytes");
    }
    // Read up to one byte past the cap, so a file that grows meanwhile is caught.
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    for (;;) {
        if (got == out.size()) {
            if (out.size() > max_bytes) return Fail(out, why, "grew while read");
            out.resize(std::min(out.size() + 65536, max_bytes + 1));
            if (got == out.size()) return Fail(out, why, "grew while read");
        }
        ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail(out, why, std::strerror(errno));
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > max_bytes) return Fail(out, why, "grew while read");
    out.resize(got);
    return AssetRead::kOk;
}

void SetLoadFailureSink(LoadFailureSink sink) {
    Sink() = std::move(sink);
}

void ReportLoadFailure(std::string_view kind, const std::string& path, std::string_view why) {
    std::string line = "\tCould not load ";
    line.append(kind).append(" \"").append(path).append("\": ").append(why);
    ReportMediaLine(line);
}

void ReportMediaLine(const std::string& line) {
    if (Sink()) {
        Sink()(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str() + (line.empty() ? 0 : 1));
    }
}

}  // namespace media
