// Files and folders for the whole program: line-oriented byte streams, file
// kinds, deletion and the current directory, plus durable replacement of a
// file (write a temporary file beside it, sync, rename over the old one).
// Paths are relative to the current directory with "/" separators.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace media {

// How opening a file for reading went. Only a file that is really not there
// counts as absent; anything else that stops the read is unreadable.
enum class OpenResult { kOk, kAbsent, kUnreadable };

// A byte stream over one open file. Text is one byte per character.
class TStream {
  public:
    ~TStream();
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;

    // Returns true at the end of a read stream.
    bool Eof();
    // Reads up to the next line feed, zero byte or end of file; drops the line
    // feed and every carriage return. Returns "" once nothing is left.
    std::string ReadLine();
    // Writes the text as one byte per character followed by CR LF; a plain
    // stream passes the line to the system at once. Returns true when every
    // byte was written.
    bool WriteLine(std::string_view text);
    // Writes raw bytes; returns true when every byte was written.
    bool WriteBytes(const void* data, size_t size);
    // Returns true while no write has failed.
    bool Good() const { return good_; }
    // Returns true when a read failed or passed the stream's size cap: what
    // was read is then incomplete, and the file counts as unreadable.
    bool ReadFailed() const { return readFailed_; }
    // Closes the stream. For a durable stream (WriteFileDurable) this flushes,
    // syncs and renames the temporary file over the target, and returns false
    // (leaving the old file untouched) when anything failed. Plain streams
    // return Good(). Note: a durable stream destroyed without Close() drops
    // its temporary file and leaves the old file as it was.
    bool Close();

    // Binary values are little-endian: a byte 0..255, a short 0..65535, a
    // signed 32-bit int and a 32-bit IEEE float. A read that runs out of bytes
    // returns 0 (whatever part it found is used up) and Eof() is then true.
    // Reads up to size bytes into data; returns how many were read.
    size_t ReadBytes(void* data, size_t size);
    // Reads one byte, 0..255.
    int ReadByte();
    // Reads an unsigned 16-bit value, 0..65535.
    int ReadShort();
    // Reads a signed 32-bit value.
    int ReadInt();
    // Reads a 32-bit float.
    float ReadFloat();
    // Writes the low 8 bits of value; returns true when the byte was written.
    bool WriteByte(int value);
    // Writes the low 16 bits of value; returns true when both bytes were written.
    bool WriteShort(int value);
    // Writes value as 32 bits; returns true when all four bytes were written.
    bool WriteInt(int value);
    // Writes value as a 32-bit float; returns true when all four bytes were written.
    bool WriteFloat(float value);

  private:
    friend std::unique_ptr<TStream> OpenDataFile(const std::string&, int64_t, OpenResult&);
    friend bool CopyFileDurable(const std::string&, const std::string&, int64_t);
    friend std::unique_ptr<TStream> WriteFile(const std::string&);
    friend std::unique_ptr<TStream> WriteFileDurable(const std::string&, bool);
    TStream(int fd, bool reading);
    bool Fill();
    bool FlushBuffer();
    void Discard();

    int fd_ = -1;
    bool reading_ = false;
    bool good_ = true;
    bool eof_ = false;
    bool readFailed_ = false;
    int64_t readLeft_ = -1;  // bytes a read stream may still take; negative: no cap
    std::string buffer_;
    size_t pos_ = 0;
    std::string durable_target_;  // non-empty for a durable stream
    std::string temp_path_;
};

// Opens a file for reading; null when it cannot be opened or is not a regular
// file (a folder, a FIFO, a device). Never blocks on the open.
std::unique_ptr<TStream> ReadFile(const std::string& path);
// Opens a data file for reading without ever blocking: result tells a missing
// file (ENOENT) from one that is there but unusable (no permission, not a
// regular file, larger than maxBytes, an I/O error). The stream stops after
// maxBytes and then reports ReadFailed(). Null unless result is kOk.
std::unique_ptr<TStream> OpenDataFile(const std::string& path, int64_t maxBytes,
                                      OpenResult& result);
// Creates or truncates a file for writing; null on failure.
std::unique_ptr<TStream> WriteFile(const std::string& path);
// Opens a durable replacement of path: writes go to a temporary file in the
// same folder, and Close() syncs it and renames it over path. Until Close()
// succeeds the old file stays byte-identical. A symbolic link at path stays a
// link (the file it points to is replaced), an existing file's permission
// bits are kept and a new file follows the umask. Null when the temporary
// file cannot be created (for example in a read-only folder). A private file
// (a secret) is always written with mode 0600, whatever the old file's bits.
std::unique_ptr<TStream> WriteFileDurable(const std::string& path, bool privateFile = false);
// Copies the file at from (a regular file of at most maxBytes) durably to to;
// returns true when the copy is complete.
bool CopyFileDurable(const std::string& from, const std::string& to, int64_t maxBytes);

// An advisory lock (flock) held on a lock file for as long as it lives, so
// that two copies of the program never save the same file at once.
class TFileLock {
  public:
    // Creates the lock file when needed and waits up to waitMs for the lock.
    TFileLock(const std::string& path, int waitMs);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;
    // Returns true when the lock is held.
    bool Held() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

// Removes the temporary files that saves killed part-way left in folder
// (those of a running save of another process are kept); returns how many.
int RemoveStaleTempFiles(const std::string& folder);
// Closes a stream (null is allowed); returns the stream's Close() result.
bool CloseFile(std::unique_ptr<TStream>& stream);

// Returns 0 when nothing is at path, 1 for a file, 2 for a folder.
int FileType(const std::string& path);
// Removes a file; returns true when nothing is left at the path.
bool DeleteFile(const std::string& path);
// Changes the current directory; returns true on success.
bool ChangeDir(const std::string& path);
// Returns the current directory.
std::string CurrentDir();
// Returns the folder holding the running executable ("" when unknown).
std::string ExecutableDir();

// Test seam: make every write fail once this many more bytes have been
// written (negative turns it off). Lets tests simulate a disk that fills up.
void SetWriteFaultAfter(int64_t bytes);

}  // namespace media
