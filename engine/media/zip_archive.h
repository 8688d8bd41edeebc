// Zip archives of named files, as the player's "Your files" download and
// upload carry them: writing a store-only archive, and reading an archive from
// outside (stored and deflate members) with every size capped, every offset
// checked and every member name checked before anything uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace media {

// Caps on what is read: an archive beyond them is refused as a whole.
inline constexpr size_t kZipMaxArchiveBytes = size_t{256} << 20;
inline constexpr size_t kZipMaxMemberBytes = size_t{64} << 20;
inline constexpr uint64_t kZipMaxTotalBytes = uint64_t{256} << 20;
inline constexpr size_t kZipMaxMembers = 65535;
inline constexpr size_t kZipMaxNameBytes = 1024;

// One file for an archive: its name inside the archive ("replays/a.zqr") and its bytes.
struct TZipMember {
    std::string name;
    std::string bytes;
};

// One member as the archive's central directory lists it.
struct TZipEntry {
    std::string name;
    uint16_t method = 0;  // 0 stored, 8 deflate
    uint16_t flags = 0;
    uint32_t crc = 0;
    uint32_t packedSize = 0;
    uint32_t size = 0;
    uint32_t localOffset = 0;
};

// Returns "" when name may name a member, else why not: empty, longer than
// kZipMaxNameBytes, absolute ("/x", "C:x"), with a backslash, a NUL or another
// control character, or with an empty, "." or ".." part. A folder entry's
// final "/" is allowed.
std::string ZipNameProblem(std::string_view name);

// Writes a store-only zip of the members into out; false (out cleared) with a
// reason when a name is refused or repeated, a member is larger than
// kZipMaxMemberBytes, or there are more than kZipMaxMembers.
bool WriteZip(const std::vector<TZipMember>& members, std::string& out, std::string& error);

// Reads an archive held in memory. Open checks the whole directory once;
// members are then unpacked one by one, so one damaged member does not stop
// the others from being read.
class TZipReader {
  public:
    // Reads the archive's directory; false with a reason when it is not a zip
    // archive, is damaged, is larger than the caps, names a member unsafely
    // or twice, or uses what this reader does not read (several disks, zip64).
    // Folder entries ("name/") are checked and then left out of Entries().
    // Note: the reader keeps a view of archive, which must outlive it.
    bool Open(std::string_view archive, std::string& error);
    // Returns the files of the archive, in directory order.
    const std::vector<TZipEntry>& Entries() const { return entries_; }
    // Unpacks one member; false with a reason (starting with the member's
    // name) when it is encrypted, uses another method, or is damaged.
    bool Extract(const TZipEntry& entry, std::string& out, std::string& error) const;

  private:
    std::string_view archive_;
    size_t directoryStart_ = 0;
    std::vector<TZipEntry> entries_;
};

}  // namespace media
