// Byte streams over files: the one capped, non-blocking opener of files that
// come from outside, plain files created for writing, and line-oriented and
// little-endian binary reads and writes. Durable replacement of a file lives
// in durable_file.h, folders and what lies at a path in folders.h.
// Paths are absolute, or relative to the current directory, with "/" separators.
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
    bool ReadFailed() const { return !readProblem_.empty(); }
    // Returns why the read failed ("" while it has not).
    const std::string& ReadProblem() const { return readProblem_; }
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
    friend std::unique_ptr<TStream> OpenDataFile(const std::string&, int64_t, OpenResult&,
                                                 std::string*);
    friend std::unique_ptr<TStream> WriteFile(const std::string&);
    friend std::unique_ptr<TStream> WriteFileDurable(const std::string&, bool);
    TStream(int fd, bool reading);
    bool Fill();
    bool FlushBuffer();
    // Syncs and renames a durable stream's temporary file over its target,
    // or drops the temporary file when a write failed (durable_file.cpp).
    void CommitDurable();
    // Drops a durable stream's temporary file without committing it.
    void Discard();

    int fd_ = -1;
    bool reading_ = false;
    bool good_ = true;
    bool eof_ = false;
    std::string readProblem_;  // why a read failed; empty while none has
    int64_t readLeft_ = -1;    // bytes a read stream may still take; negative: no cap
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
// regular file, larger than maxBytes, an I/O error); why, when given, receives
// a short reason ("missing", "not a regular file", "larger than N bytes" or
// the system's message). The stream stops after maxBytes (negative: no cap)
// and then reports ReadFailed(). Null unless result is kOk.
std::unique_ptr<TStream> OpenDataFile(const std::string& path, int64_t maxBytes, OpenResult& result,
                                      std::string* why = nullptr);
// Creates or truncates a regular file for writing; null on failure, and for
// anything else at the path (a FIFO, a device, a folder), which is never
// waited on and never truncated.
std::unique_ptr<TStream> WriteFile(const std::string& path);
// Closes a stream (null is allowed); returns the stream's Close() result.
bool CloseFile(std::unique_ptr<TStream>& stream);

// Test seam: make every write fail once this many more bytes have been
// written (negative turns it off). Lets tests simulate a disk that fills up.
void SetWriteFaultAfter(int64_t bytes);

}  // namespace media
