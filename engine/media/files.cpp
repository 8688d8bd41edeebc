// Byte streams, folders and durable file replacement over POSIX calls.
#include "engine/media/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

namespace media {

namespace {

constexpr size_t kBufferSize = 16384;
// Symbolic links followed before a durable save gives up on resolving one.
constexpr int kMaxLinkDepth = 40;
// Marks a durable save's temporary file: "<name>.tmp-<pid>-XXXXXX".
constexpr const char* kTempMark = ".tmp-";
std::atomic<int64_t> g_write_budget{-1};

// Writes all bytes, honouring the fault-injection budget.
bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        size_t chunk = size;
        int64_t budget = g_write_budget.load();
        if (budget >= 0) {
            if (budget == 0) {
                errno = ENOSPC;
                return false;
            }
            if (static_cast<int64_t>(chunk) > budget) chunk = static_cast<size_t>(budget);
        }
        ssize_t n = ::write(fd, data, chunk);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (budget >= 0) g_write_budget.fetch_sub(n);
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string DirName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

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
        path = target[0] == '/' ? target : DirName(path) + "/" + target;
    }
    return path;
}

// Returns the permission bits a new file gets under the process's umask.
mode_t NewFileMode() {
    mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Returns true for the name of a temporary file no running process will
// finish: a durable save's "<name>.tmp-<pid>-XXXXXX" whose process is gone,
// or the older "<name>.tmp-XXXXXX" form that carried no process number.
bool IsStaleTempName(std::string_view name) {
    size_t mark = name.rfind(kTempMark);
    if (mark == std::string_view::npos || mark == 0) return false;
    std::string_view tail = name.substr(mark + std::strlen(kTempMark));
    if (tail.size() == 6) return true;
    size_t dash = tail.find('-');
    if (dash == std::string_view::npos || tail.size() - dash - 1 != 6) return false;
    std::string_view pidText = tail.substr(0, dash);
    if (!AllDigits(pidText) || pidText.size() > 9) return false;
    pid_t pid = static_cast<pid_t>(std::stol(std::string(pidText)));
    if (pid == ::getpid()) return false;
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

TStream::TStream(int fd, bool reading) : fd_(fd), reading_(reading) {}

TStream::~TStream() {
    // A durable save that was never closed is abandoned, not committed: its
    // half-written file must not replace the old one.
    if (!durable_target_.empty()) {
        Discard();
    } else {
        Close();
    }
}

void TStream::Discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temp_path_.empty()) ::unlink(temp_path_.c_str());
    durable_target_.clear();
    good_ = false;
}

bool TStream::Fill() {
    if (fd_ < 0 || eof_) return false;
    buffer_.erase(0, pos_);
    pos_ = 0;
    char chunk[kBufferSize];
    while (true) {
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) readFailed_ = true;
            eof_ = true;
            return false;
        }
        if (readLeft_ >= 0) {
            if (n > readLeft_) {
                // The file grew past its cap: keep nothing beyond it.
                readFailed_ = true;
                n = static_cast<ssize_t>(readLeft_);
                eof_ = true;
            }
            readLeft_ -= n;
            if (n == 0) return false;
        }
        buffer_.append(chunk, static_cast<size_t>(n));
        return true;
    }
}

bool TStream::Eof() {
    if (!reading_) return true;
    if (pos_ < buffer_.size()) return false;
    return !Fill();
}

std::string TStream::ReadLine() {
    std::string line;
    if (!reading_) return line;
    while (true) {
        if (pos_ >= buffer_.size() && !Fill()) return line;
        char c = buffer_[pos_++];
        if (c == '\n' || c == '\0') return line;
        if (c != '\r') line.push_back(c);
    }
}

bool TStream::FlushBuffer() {
    if (buffer_.empty()) return good_;
    if (good_ && !WriteAll(fd_, buffer_.data(), buffer_.size())) good_ = false;
    buffer_.clear();
    return good_;
}

bool TStream::WriteBytes(const void* data, size_t size) {
    if (reading_ || fd_ < 0) return false;
    buffer_.append(static_cast<const char*>(data), size);
    if (buffer_.size() >= kBufferSize) FlushBuffer();
    return good_;
}

bool TStream::WriteLine(std::string_view text) {
    WriteBytes(text.data(), text.size());
    WriteBytes("\r\n", 2);
    // Plain files write each line straight through, so a log that is being
    // watched (or a program that dies) shows every line written so far.
    // Durable files are committed as a whole on Close anyway.
    if (durable_target_.empty()) FlushBuffer();
    return good_;
}

bool TStream::Close() {
    if (fd_ < 0) return good_;
    if (!reading_) FlushBuffer();
    if (!durable_target_.empty()) {
        if (good_ && ::fsync(fd_) != 0) good_ = false;
    }
    if (::close(fd_) != 0) good_ = false;
    fd_ = -1;
    if (!durable_target_.empty()) {
        if (good_ && ::rename(temp_path_.c_str(), durable_target_.c_str()) != 0) good_ = false;
        if (good_) {
            // Make the rename itself durable.
            int dir = ::open(DirName(durable_target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (dir >= 0) {
                ::fsync(dir);
                ::close(dir);
            }
        } else {
            ::unlink(temp_path_.c_str());
        }
        durable_target_.clear();
    }
    return good_;
}

std::unique_ptr<TStream> ReadFile(const std::string& path) {
    OpenResult result;
    return OpenDataFile(path, -1, result);
}

std::unique_ptr<TStream> OpenDataFile(const std::string& path, int64_t maxBytes,
                                      OpenResult& result) {
    result = OpenResult::kUnreadable;
    // Look before opening, so that no device or FIFO is ever opened; the
    // check is repeated on the open descriptor in case the path changed.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) result = OpenResult::kAbsent;
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) return nullptr;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) result = OpenResult::kAbsent;
        return nullptr;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (maxBytes >= 0 && st.st_size > maxBytes)) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<TStream> stream(new TStream(fd, true));
    stream->readLeft_ = maxBytes;
    result = OpenResult::kOk;
    return stream;
}

std::unique_ptr<TStream> WriteFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::unique_ptr<TStream>(new TStream(fd, false));
}

std::unique_ptr<TStream> WriteFileDurable(const std::string& path, bool privateFile) {
    const std::string target = FollowLinks(path);
    std::string temp = target + kTempMark + std::to_string(::getpid()) + "-XXXXXX";
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
    while (in->Fill()) {
        out->WriteBytes(in->buffer_.data() + in->pos_, in->buffer_.size() - in->pos_);
        in->pos_ = in->buffer_.size();
    }
    if (in->ReadFailed()) return false;  // the unclosed copy is dropped
    return CloseFile(out);
}

TFileLock::TFileLock(const std::string& path, int waitMs) {
    fd_ =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, NewFileMode());
    if (fd_ < 0) return;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (true) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            held_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) return;
        if (std::chrono::steady_clock::now() >= until) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TFileLock::~TFileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

int RemoveStaleTempFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return 0;
    int removed = 0;
    while (struct dirent* entry = ::readdir(dir)) {
        if (!IsStaleTempName(entry->d_name)) continue;
        std::string path = folder + "/" + entry->d_name;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
    }
    ::closedir(dir);
    return removed;
}

bool CloseFile(std::unique_ptr<TStream>& stream) {
    if (!stream) return false;
    bool ok = stream->Close();
    stream.reset();
    return ok;
}

int FileType(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return 2;
    return 1;
}

bool DeleteFile(const std::string& path) {
    ::unlink(path.c_str());
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
    buf[n] = '\0';
    return DirName(buf);
}

void SetWriteFaultAfter(int64_t bytes) {
    g_write_budget.store(bytes);
}

size_t TStream::ReadBytes(void* data, size_t size) {
    if (!reading_) return 0;
    auto* out = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        if (pos_ >= buffer_.size() && !Fill()) break;
        const size_t avail = buffer_.size() - pos_;
        const size_t n = size - done < avail ? size - done : avail;
        std::memcpy(out + done, buffer_.data() + pos_, n);
        pos_ += n;
        done += n;
    }
    return done;
}

namespace {

// Reads `count` little-endian bytes as an unsigned number; 0 when any is missing.
uint32_t ReadLittleEndian(TStream& stream, size_t count) {
    unsigned char bytes[4] = {};
    if (stream.ReadBytes(bytes, count) != count) return 0;
    uint32_t v = 0;
    for (size_t i = count; i-- > 0;) v = (v << 8) | bytes[i];
    return v;
}

// Writes the low `count` bytes of v, lowest first.
bool WriteLittleEndian(TStream& stream, uint32_t v, size_t count) {
    unsigned char bytes[4];
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(v >> (8 * i));
    return stream.WriteBytes(bytes, count);
}

}  // namespace

int TStream::ReadByte() {
    return static_cast<int>(ReadLittleEndian(*this, 1));
}

int TStream::ReadShort() {
    return static_cast<int>(ReadLittleEndian(*this, 2));
}

int TStream::ReadInt() {
    return static_cast<int>(ReadLittleEndian(*this, 4));
}

float TStream::ReadFloat() {
    const uint32_t bits = ReadLittleEndian(*this, 4);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool TStream::WriteByte(int value) {
    return WriteLittleEndian(*this, static_cast<uint32_t>(value), 1);
}

bool TStream::WriteShort(int value) {
    return WriteLittleEndian(*this, static_cast<uint32_t>(value), 2);
}

bool TStream::WriteInt(int value) {
    return WriteLittleEndian(*this, static_cast<uint32_t>(value), 4);
}

bool TStream::WriteFloat(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return WriteLittleEndian(*this, bits, 4);
}

}  // namespace media
