// Folder operations over POSIX calls.
#include "engine/media/folders.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>

#include "engine/media/file_mirror.h"

namespace media {

namespace {

// Closes a folder handle when it goes out of scope.
struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

int FileType(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return 2;
    return 1;
}

bool DeleteFile(const std::string& path) {
    if (::unlink(path.c_str()) == 0) MirrorFileRemoved(path);
    return FileType(path) == 0;
}

bool ChangeDir(const std::string& path) {
    return ::chdir(path.c_str()) == 0;
}

std::string CurrentDir() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) return {};
    return buf;
}

std::string ExecutableDir() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string dir = FolderOf(std::string(buf, static_cast<size_t>(n)));
    if (dir.size() > 1) dir.pop_back();
    return dir;
}

std::string AsFolder(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    if (dir != "/") dir += '/';
    return dir;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool MakeFolders(const std::string& dir, unsigned mode) {
    if (dir.empty()) return false;
    const std::string target = AsFolder(dir);
    for (size_t slash = target.find('/', 1); slash != std::string::npos;
         slash = target.find('/', slash + 1)) {
        const std::string part = target.substr(0, slash);
        if (FileType(part) != 2 && ::mkdir(part.c_str(), static_cast<mode_t>(mode)) != 0 &&
            FileType(part) != 2) {
            return false;
        }
    }
    return FileType(target) == 2;
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) return names;
    const std::string base = AsFolder(folder);
    while (dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (::lstat((base + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.push_back(name);
    }
    return names;
}

}  // namespace media
