// Capped whole-file reads, zlib packing and folder helpers over POSIX calls.
#include "engine/media/binary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace media {

namespace {

// Closes a file descriptor when it goes out of scope.
struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

// Closes a folder handle when it goes out of scope.
struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

bool ReadBinaryFile(const std::string& path, size_t maxBytes, std::string& out,
                    std::string& error) {
    out.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errno == ENOENT ? "no such file" : std::strerror(errno);
        return false;
    }
    FdCloser closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "not a regular file";
        return false;
    }
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > maxBytes) {
        error = "file too large";
        return false;
    }
    out.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = std::strerror(errno);
            return false;
        }
        if (n == 0) break;  // the file shrank while being read
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return true;
}

std::string PackBytes(std::string_view bytes, int level) {
    uLongf size = compressBound(static_cast<uLong>(bytes.size()));
    std::string packed(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &size,
                  reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uLong>(bytes.size()),
                  level) != Z_OK) {
        return {};
    }
    packed.resize(size);
    return packed;
}

bool UnpackBytes(std::string_view packed, size_t expectedSize, std::string& out) {
    out.assign(expectedSize, '\0');
    uLongf size = static_cast<uLongf>(expectedSize);
    // uncompress needs a non-null buffer even for an empty result.
    Bytef spare = 0;
    Bytef* dest = expectedSize ? reinterpret_cast<Bytef*>(out.data()) : &spare;
    if (expectedSize == 0) size = 1;
    const int rc = uncompress(dest, &size, reinterpret_cast<const Bytef*>(packed.data()),
                              static_cast<uLong>(packed.size()));
    if (rc != Z_OK || size != expectedSize) {
        out.clear();
        return false;
    }
    return true;
}

uint32_t Crc32(std::string_view bytes) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) return false;
    std::string part;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            if (!part.empty() && part != "/") ::mkdir(part.c_str(), 0755);
        }
        if (i < path.size()) part += path[i];
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return names;
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    while (dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::lstat((base + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    return names;
}

}  // namespace media
