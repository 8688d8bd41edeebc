// zlib packing, CRC-32 and folder helpers over POSIX calls.
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

// Closes a folder handle when it goes out of scope.
struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

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
