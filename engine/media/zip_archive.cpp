// Writing and reading zip archives. The reader treats the archive as hostile:
// every size and offset is checked against the bytes that are really there
// before it is used, sums are done in 64 bits, and the unpacked size of every
// member is known (and capped) before anything is unpacked.
#include "engine/media/zip_archive.h"

#include <set>

#include "engine/media/inflate.h"

namespace media {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndLocatorSignature = 0x07064b50;
constexpr size_t kLocalHeaderBytes = 30;
constexpr size_t kCentralHeaderBytes = 46;
constexpr size_t kEndRecordBytes = 22;
constexpr size_t kZip64LocatorBytes = 20;
constexpr size_t kMaxCommentBytes = 0xFFFF;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagEncrypted = 0x0001;
// Version 2.0 of the format, made on Unix: the members' permission bits are read by unzip.
constexpr uint16_t kVersionMadeBy = (3 << 8) | 20;
constexpr uint16_t kVersionNeeded = 10;
// rw-r--r-- regular file, in the high half of the external attributes.
constexpr uint32_t kFileAttributes = 0100644u << 16;
// 1 January 1980, 00:00, the format's first day: the archive carries no time
// of its own, so the same files always make the same archive.
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr uint16_t kDosTime = 0;

// Little-endian writes onto the end of out.
void Put16(std::string& out, uint32_t v) {
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// Little-endian reads at at; the caller has checked that the bytes are there.
uint32_t Get16(std::string_view in, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(in[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(in[at + 1])) << 8;
}
uint32_t Get32(std::string_view in, size_t at) {
    return Get16(in, at) | Get16(in, at + 2) << 16;
}

// Returns true when [at, at + n) lies inside a buffer of size bytes.
bool Fits(size_t at, uint64_t n, size_t size) {
    return at <= size && n <= size - at;
}

// Writes a member's header fields shared by the local and the central header
// (from "version needed" to the extra field's length).
void PutSharedFields(std::string& out, const TZipMember& m, uint32_t crc) {
    Put16(out, kVersionNeeded);
    Put16(out, 0);  // flags
    Put16(out, kMethodStored);
    Put16(out, kDosTime);
    Put16(out, kDosDate);
    Put32(out, crc);
    Put32(out, static_cast<uint32_t>(m.bytes.size()));
    Put32(out, static_cast<uint32_t>(m.bytes.size()));
    Put16(out, static_cast<uint32_t>(m.name.size()));
    Put16(out, 0);  // extra field
}

// Finds the end record: the last signature from which a record and its
// comment reach exactly the end of the archive. npos when there is none.
size_t FindEndRecord(std::string_view in) {
    if (in.size() < kEndRecordBytes) return std::string_view::npos;
    const size_t lowest =
        in.size() - kEndRecordBytes > kMaxCommentBytes ? in.size() - kEndRecordBytes - kMaxCommentBytes
                                                       : 0;
    for (size_t at = in.size() - kEndRecordBytes + 1; at-- > lowest;) {
        if (Get32(in, at) == kEndSignature && at + kEndRecordBytes + Get16(in, at + 20) == in.size()) {
            return at;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::string ZipNameProblem(std::string_view name) {
    if (name.empty()) return "empty name";
    if (name.size() > kZipMaxNameBytes) return "name longer than " + std::to_string(kZipMaxNameBytes) + " bytes";
    if (name.front() == '/') return "absolute path";
    if (name.size() >= 2 && name[1] == ':') return "drive letter";
    for (char c : name) {
        if (c == '\0') return "NUL in name";
        if (c == '\\') return "backslash in name";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "control character in name";
    }
    // A folder entry ends in "/"; every part before it must be a real name.
    std::string_view rest = name.back() == '/' ? name.substr(0, name.size() - 1) : name;
    while (true) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (part.empty()) return "empty part in name";
        if (part == "." || part == "..") return "\"" + std::string(part) + "\" in name";
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    return "";
}

bool WriteZip(const std::vector<TZipMember>& members, std::string& out, std::string& error) {
    out.clear();
    if (members.size() > kZipMaxMembers) {
        error = "more than " + std::to_string(kZipMaxMembers) + " files";
        return false;
    }
    std::set<std::string_view> names;
    uint64_t total = kEndRecordBytes;
    for (const TZipMember& m : members) {
        if (std::string why = ZipNameProblem(m.name); !why.empty()) {
            error = m.name + ": " + why;
            return false;
        }
        if (!names.insert(m.name).second) {
            error = m.name + ": name given twice";
            return false;
        }
        if (m.bytes.size() > kZipMaxMemberBytes) {
            error = m.name + ": larger than " + std::to_string(kZipMaxMemberBytes) + " bytes";
            return false;
        }
        total += kLocalHeaderBytes + kCentralHeaderBytes + 2 * m.name.size() + m.bytes.size();
    }
    // Offsets are 32-bit without zip64, which this program neither writes nor reads.
    if (total > UINT32_MAX) {
        error = "archive larger than 4 GiB";
        return false;
    }
    out.reserve(static_cast<size_t>(total));
    std::string directory;
    for (const TZipMember& m : members) {
        const uint32_t crc = TableCrc32(m.bytes);
        const uint32_t offset = static_cast<uint32_t>(out.size());
        Put32(out, kLocalSignature);
        PutSharedFields(out, m, crc);
        out += m.name;
        out += m.bytes;

        Put32(directory, kCentralSignature);
        Put16(directory, kVersionMadeBy);
        PutSharedFields(directory, m, crc);
        Put16(directory, 0);  // comment
        Put16(directory, 0);  // first disk
        Put16(directory, 0);  // internal attributes
        Put32(directory, kFileAttributes);
        Put32(directory, offset);
        directory += m.name;
    }
    const uint32_t directoryOffset = static_cast<uint32_t>(out.size());
    out += directory;
    Put32(out, kEndSignature);
    Put16(out, 0);  // this disk
    Put16(out, 0);  // the directory's disk
    Put16(out, static_cast<uint32_t>(members.size()));
    Put16(out, static_cast<uint32_t>(members.size()));
    Put32(out, static_cast<uint32_t>(directory.size()));
    Put32(out, directoryOffset);
    Put16(out, 0);  // comment
    return true;
}

bool TZipReader::Open(std::string_view archive, std::string& error) {
    archive_ = {};
    entries_.clear();
    if (archive.size() > kZipMaxArchiveBytes) {
        error = "archive larger than " + std::to_string(kZipMaxArchiveBytes >> 20) + " MiB";
        return false;
    }
    const size_t end = FindEndRecord(archive);
    if (end == std::string_view::npos) {
        error = "not a zip archive (no end of directory record)";
        return false;
    }
    const uint32_t disk = Get16(archive, end + 4);
    const uint32_t directoryDisk = Get16(archive, end + 6);
    const uint32_t onDisk = Get16(archive, end + 8);
    const uint32_t count = Get16(archive, end + 10);
    const uint32_t directorySize = Get32(archive, end + 12);
    const uint32_t directoryOffset = Get32(archive, end + 16);
    if (end >= kZip64LocatorBytes && Get32(archive, end - kZip64LocatorBytes) == kZip64EndLocatorSignature) {
        error = "zip64 archives are not read";
        return false;
    }
    if (disk != 0 || directoryDisk != 0 || onDisk != count) {
        error = "archives split over several disks are not read";
        return false;
    }
    if (uint64_t{directoryOffset} + directorySize > end) {
        error = "damaged archive: the directory lies outside the archive";
        return false;
    }
    std::vector<TZipEntry> entries;
    std::set<std::string, std::less<>> names;
    uint64_t total = 0;
    size_t at = directoryOffset;
    const size_t directoryEnd = size_t{directoryOffset} + directorySize;
    for (uint32_t i = 0; i < count; ++i) {
        if (!Fits(at, kCentralHeaderBytes, directoryEnd) || Get32(archive, at) != kCentralSignature) {
            error = "damaged archive: directory entry " + std::to_string(i + 1) + " of " +
                    std::to_string(count) + " is missing";
            return false;
        }
        TZipEntry e;
        e.flags = static_cast<uint16_t>(Get16(archive, at + 8));
        e.method = static_cast<uint16_t>(Get16(archive, at + 10));
        e.crc = Get32(archive, at + 16);
        e.packedSize = Get32(archive, at + 20);
        e.size = Get32(archive, at + 24);
        const uint32_t nameBytes = Get16(archive, at + 28);
        const uint32_t extraBytes = Get16(archive, at + 30);
        const uint32_t commentBytes = Get16(archive, at + 32);
        const uint32_t firstDisk = Get16(archive, at + 34);
        e.localOffset = Get32(archive, at + 42);
        const uint64_t record = uint64_t{kCentralHeaderBytes} + nameBytes + extraBytes + commentBytes;
        if (!Fits(at, record, directoryEnd)) {
            error = "damaged archive: directory entry " + std::to_string(i + 1) + " runs past the directory";
            return false;
        }
        e.name.assign(archive.substr(at + kCentralHeaderBytes, nameBytes));
        at += static_cast<size_t>(record);
        if (std::string why = ZipNameProblem(e.name); !why.empty()) {
            error = "refused member name \"" + e.name.substr(0, e.name.find('\0')) + "\": " + why;
            return false;
        }
        if (!names.insert(e.name).second) {
            error = "the archive holds \"" + e.name + "\" twice";
            return false;
        }
        if (e.size == UINT32_MAX || e.packedSize == UINT32_MAX || e.localOffset == UINT32_MAX ||
            firstDisk != 0) {
            error = e.name + ": zip64 members are not read";
            return false;
        }
        if (e.localOffset >= directoryOffset) {
            error = "damaged archive: " + e.name + " lies outside the archive";
            return false;
        }
        if (e.size > kZipMaxMemberBytes) {
            error = e.name + ": larger than " + std::to_string(kZipMaxMemberBytes >> 20) + " MiB";
            return false;
        }
        total += e.size;
        if (total > kZipMaxTotalBytes) {
            error = "the files unpack to more than " + std::to_string(kZipMaxTotalBytes >> 20) + " MiB";
            return false;
        }
        if (e.name.back() == '/') continue;  // a folder
        entries.push_back(std::move(e));
    }
    archive_ = archive;
    directoryStart_ = directoryOffset;
    entries_ = std::move(entries);
    return true;
}

bool TZipReader::Extract(const TZipEntry& e, std::string& out, std::string& error) const {
    out.clear();
    if (e.flags & kFlagEncrypted) {
        error = e.name + ": encrypted, not read";
        return false;
    }
    if (e.method != kMethodStored && e.method != kMethodDeflate) {
        error = e.name + ": packed with method " + std::to_string(e.method) + ", not read";
        return false;
    }
    // The local header repeats the name; its own sizes may be zero (a data
    // descriptor follows instead), so the directory's are used.
    const size_t at = e.localOffset;
    if (!Fits(at, kLocalHeaderBytes, directoryStart_) || Get32(archive_, at) != kLocalSignature) {
        error = e.name + ": damaged (no header where the directory says)";
        return false;
    }
    const uint64_t dataStart =
        uint64_t{at} + kLocalHeaderBytes + Get16(archive_, at + 26) + Get16(archive_, at + 28);
    if (dataStart > directoryStart_ || !Fits(static_cast<size_t>(dataStart), e.packedSize, directoryStart_)) {
        error = e.name + ": damaged (runs past the end of the data)";
        return false;
    }
    if (archive_.substr(at + kLocalHeaderBytes, Get16(archive_, at + 26)) != e.name) {
        error = e.name + ": damaged (the header names another file)";
        return false;
    }
    const std::string_view packed = archive_.substr(static_cast<size_t>(dataStart), e.packedSize);
    if (e.method == kMethodStored) {
        if (e.packedSize != e.size) {
            error = e.name + ": damaged (stored sizes differ)";
            return false;
        }
        out.assign(packed);
    } else if (!InflateRaw(packed, e.size, out)) {
        error = e.name + ": damaged (cannot be unpacked)";
        return false;
    }
    if (TableCrc32(out) != e.crc) {
        out.clear();
        error = e.name + ": damaged (check value differs)";
        return false;
    }
    return true;
}

}  // namespace media
