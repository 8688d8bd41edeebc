// Byte streams over POSIX file descriptors: the capped reader of outside
// files, plain files for writing, and the line and binary formats on top.
#include "engine/media/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace media {

namespace {

constexpr size_t kBufferSize = 16384;
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

// Fills in the caller's reason, when it asked for one.
void SetWhy(std::string* why, std::string text) {
    if (why) *why = std::move(text);
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

bool TStream::Fill() {
    if (fd_ < 0 || eof_) return false;
    buffer_.erase(0, pos_);
    pos_ = 0;
    char chunk[kBufferSize];
    while (true) {
        ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) readProblem_ = std::strerror(errno);
            eof_ = true;
            return false;
        }
        if (readLeft_ >= 0) {
            if (n > readLeft_) {
                // The file grew past its cap: keep nothing beyond it.
                readProblem_ = "grew while read";
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
        CommitDurable();
        return good_;
    }
    if (::close(fd_) != 0) good_ = false;
    fd_ = -1;
    return good_;
}

std::unique_ptr<TStream> ReadFile(const std::string& path) {
    OpenResult result;
    return OpenDataFile(path, -1, result);
}

std::unique_ptr<TStream> OpenDataFile(const std::string& path, int64_t maxBytes, OpenResult& result,
                                      std::string* why) {
    result = OpenResult::kUnreadable;
    // Tells a missing file from any other failure of the call just made.
    auto failed = [&]() -> std::unique_ptr<TStream> {
        if (errno == ENOENT) result = OpenResult::kAbsent;
        SetWhy(why, errno == ENOENT ? "missing" : std::strerror(errno));
        return nullptr;
    };
    // Look before opening, so that no device or FIFO is ever opened; the
    // check is repeated on the open descriptor in case the path changed.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failed();
    int fd = -1;
    if (S_ISREG(st.st_mode)) {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return failed();
        if (::fstat(fd, &st) != 0) st.st_mode = 0;
    }
    if (!S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        SetWhy(why, "not a regular file");
        return nullptr;
    }
    if (maxBytes >= 0 && st.st_size > maxBytes) {
        ::close(fd);
        SetWhy(why, "larger than " + std::to_string(maxBytes) + " bytes");
        return nullptr;
    }
    std::unique_ptr<TStream> stream(new TStream(fd, true));
    stream->readLeft_ = maxBytes;
    result = OpenResult::kOk;
    return stream;
}

std::unique_ptr<TStream> WriteFile(const std::string& path) {
    // A FIFO or a device at the path is refused before it is opened: opening
    // one for writing can block until a reader comes, or act on the device.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return nullptr;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    // Truncated only once the open descriptor proves to be a regular file.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::ftruncate(fd, 0) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<TStream>(new TStream(fd, false));
}

bool CloseFile(std::unique_ptr<TStream>& stream) {
    if (!stream) return false;
    bool ok = stream->Close();
    stream.reset();
    return ok;
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
