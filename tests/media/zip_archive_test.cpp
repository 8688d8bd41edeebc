// Tests of the zip archive: what it writes is what it reads and what the unzip
// tool reads; deflate members packed by zlib; member names that would escape
// the folder refused on both sides; and archives damaged or crafted in every
// way the reader checks get a clear reason, never a crash or a wrong file.
#include "engine/media/zip_archive.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using media::TZipEntry;
using media::TZipMember;
using media::TZipReader;

// A member as a crafted archive holds it; every field the reader checks can be set wrong.
struct Crafted {
    std::string name;
    std::string data;  // the bytes as stored (packed for method 8)
    uint32_t size = 0;
    uint32_t crc = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    std::string localName;  // the name the local header gives; the directory's when empty
};

void Put16(std::string& out, uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8 & 0xFF);
}
void Put32(std::string& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

uint32_t Crc(const std::string& s) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(s.data()), uInt(s.size())));
}

// A stored member with its true size and check value.
Crafted Stored(const std::string& name, const std::string& bytes) {
    return Crafted{name, bytes, uint32_t(bytes.size()), Crc(bytes), 0, 0, ""};
}

// A member packed by zlib as bare deflate blocks.
Crafted Deflated(const std::string& name, const std::string& bytes) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string packed(deflateBound(&z, bytes.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = uInt(packed.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return Crafted{name, packed, uint32_t(bytes.size()), Crc(bytes), 8, 0, ""};
}

// Lays out an archive by the format's own description, with an end-record
// comment and the counts it is told (the true ones when negative).
std::string Craft(const std::vector<Crafted>& members, const std::string& comment = "",
                  int count = -1) {
    std::string out;
    std::string dir;
    for (const Crafted& m : members) {
        const uint32_t offset = uint32_t(out.size());
        const std::string& local = m.localName.empty() ? m.name : m.localName;
        Put32(out, 0x04034b50);
        Put16(out, 20);
        Put16(out, m.flags);
        Put16(out, m.method);
        Put32(out, 0);
        Put32(out, m.crc);
        Put32(out, uint32_t(m.data.size()));
        Put32(out, m.size);
        Put16(out, uint32_t(local.size()));
        Put16(out, 0);
        out += local + m.data;
        Put32(dir, 0x02014b50);
        Put16(dir, 20);
        Put16(dir, 20);
        Put16(dir, m.flags);
        Put16(dir, m.method);
        Put32(dir, 0);
        Put32(dir, m.crc);
        Put32(dir, uint32_t(m.data.size()));
        Put32(dir, m.size);
        Put16(dir, uint32_t(m.name.size()));
        Put32(dir, 0);  // extra and comment lengths
        Put32(dir, 0);  // disk and internal attributes
        Put32(dir, 0);
        Put32(dir, offset);
        dir += m.name;
    }
    const uint32_t dirOffset = uint32_t(out.size());
    out += dir;
    const uint32_t n = count < 0 ? uint32_t(members.size()) : uint32_t(count);
    Put32(out, 0x06054b50);
    Put32(out, 0);
    Put16(out, n);
    Put16(out, n);
    Put32(out, uint32_t(dir.size()));
    Put32(out, dirOffset);
    Put16(out, uint32_t(comment.size()));
    return out + comment;
}

// Opens an archive and unpacks every member: each name with its bytes, or the
// first reason given ("" when all went well).
std::string ReadAll(const std::string& archive, std::vector<TZipMember>& files) {
    files.clear();
    TZipReader reader;
    std::string error;
    if (!reader.Open(archive, error)) return error.empty() ? "no reason given" : error;
    for (const TZipEntry& e : reader.Entries()) {
        TZipMember m{e.name, ""};
        if (!reader.Extract(e, m.bytes, error)) return error;
        files.push_back(m);
    }
    return "";
}

std::string Binary() {
    std::string s;
    for (int i = 0; i < 3000; ++i) s += char(i * 7 % 256);
    return s;
}

TEST(ZipArchive, WritesWhatItAndUnzipRead) {
    const std::vector<TZipMember> files = {
        {"nuscores.dat", "1E4A\r\n62412018\r\n"},
        {"replays/2026-12-08_07-35-59_12345_1a2b3c4d.zqr", Binary()},
        {"empty", ""},
    };
    std::string zip;
    std::string error;
    ASSERT_TRUE(media::WriteZip(files, zip, error)) << error;
    std::vector<TZipMember> back;
    ASSERT_EQ(ReadAll(zip, back), "");
    ASSERT_EQ(back.size(), files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(back[i].name, files[i].name);
        EXPECT_TRUE(back[i].bytes == files[i].bytes) << files[i].name;
    }
    // No archive at all is an empty list, not an error.
    ASSERT_TRUE(media::WriteZip({}, zip, error));
    EXPECT_EQ(ReadAll(zip, back), "");
    EXPECT_TRUE(back.empty());

    // The unzip tool, an implementation of its own, tests every member's check value.
    ASSERT_TRUE(media::WriteZip(files, zip, error));
    char dir[] = "/tmp/zq_zip_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/files.zip";
    std::ofstream(path, std::ios::binary) << zip;
    const int rc = std::system(("unzip -tqq " + path + " >/dev/null 2>&1").c_str());
    std::filesystem::remove_all(dir);
    if (std::system("command -v unzip >/dev/null 2>&1") == 0) {
        EXPECT_EQ(rc, 0);
    }
}

TEST(ZipArchive, ReadsDeflateMembersFoldersAndComments) {
    const std::string text(20000, 'z');
    std::vector<TZipMember> back;
    ASSERT_EQ(ReadAll(Craft({Stored("Game/", ""), Deflated("Game/nuscores.dat", text),
                             Stored("Game/replays/a.zqr", Binary()), Deflated("Game/e", "")},
                            "made by hand"),
                      back),
              "");
    ASSERT_EQ(back.size(), 3u);  // the folder entry is left out
    EXPECT_EQ(back[0].name, "Game/nuscores.dat");
    EXPECT_TRUE(back[0].bytes == text);
    EXPECT_TRUE(back[1].bytes == Binary());
    EXPECT_EQ(back[2].bytes, "");
}

TEST(ZipArchive, UnsafeOrRepeatedNamesAreRefusedOnBothSides) {
    const std::vector<std::string> unsafe = {
        "",       "/etc/passwd", "../up",  "a/../../b", "a/..",         "./a",
        "a//b",   "a\\b",        "C:x",    std::string("a\0b", 3),      "tab\there",
        "ok/./x", "..",          "a/b//", std::string(media::kZipMaxNameBytes + 1, 'n')};
    for (const std::string& name : unsafe) {
        SCOPED_TRACE("name \"" + name + "\"");
        EXPECT_NE(media::ZipNameProblem(name), "");
        std::string zip = "stale";
        std::string error;
        EXPECT_FALSE(media::WriteZip({{"fine", "1"}, {name, "2"}}, zip, error));
        EXPECT_TRUE(zip.empty());
        EXPECT_NE(error, "");
        std::vector<TZipMember> back;
        EXPECT_NE(ReadAll(Craft({Stored("fine", "1"), Stored(name, "2")}), back), "");
    }
    for (const std::string name : {"a", "a/b/c.zqr", "folder/", "..a", "a..", "x.y"}) {
        EXPECT_EQ(media::ZipNameProblem(name), "") << name;
    }
    std::string zip;
    std::string error;
    EXPECT_FALSE(media::WriteZip({{"a", "1"}, {"a", "2"}}, zip, error));
    EXPECT_EQ(error, "a: name given twice");
    std::vector<TZipMember> back;
    EXPECT_EQ(ReadAll(Craft({Stored("a", "1"), Stored("a", "2")}), back),
              "the archive holds \"a\" twice");
}

TEST(ZipArchive, CraftedArchivesGetAReasonNamingWhatIsWrong) {
    Crafted badCrc = Stored("r.zqr", "replay");
    badCrc.crc ^= 1;
    Crafted badDeflate = Deflated("d.zqr", std::string(500, 'q'));
    badDeflate.data[badDeflate.data.size() / 2] ^= 0x55;
    Crafted shortStored = Stored("s", "abc");
    shortStored.size = 4;
    Crafted encrypted = Stored("e", "abc");
    encrypted.flags = 1;
    Crafted bzip = Stored("b", "abc");
    bzip.method = 12;
    Crafted otherName = Stored("x", "abc");
    otherName.localName = "y";
    Crafted huge = Stored("h", "abc");
    huge.size = uint32_t(media::kZipMaxMemberBytes) + 1;
    Crafted zip64 = Stored("z", "abc");
    zip64.size = UINT32_MAX;
    // Members at the cap each, together over the total cap.
    std::vector<Crafted> atCap;
    for (const char* name : {"q1", "q2", "q3", "q4", "q5"}) {
        atCap.push_back(Stored(name, ""));
        atCap.back().size = uint32_t(media::kZipMaxMemberBytes);
    }

    const std::string good = Craft({Stored("a", "1")});
    struct Case {
        const char* what;
        std::string archive;
        std::string reason;  // the start of the reason given
    };
    const std::vector<Case> cases = {
        {"no bytes", "", "not a zip archive"},
        {"some text", "hello, this is not an archive at all, just some text", "not a zip archive"},
        {"end record cut short", good.substr(0, good.size() - 1), "not a zip archive"},
        {"trailing bytes after the end record", good + "xx", "not a zip archive"},
        {"more entries than the directory holds", Craft({Stored("a", "1")}, "", 2),
         "damaged archive: directory entry 2 of 2 is missing"},
        {"check value differs", Craft({Stored("a", "1"), badCrc}), "r.zqr: damaged (check value"},
        {"deflate data damaged", Craft({badDeflate}), "d.zqr: damaged"},
        {"stored sizes differ", Craft({shortStored}), "s: damaged (stored sizes differ)"},
        {"encrypted", Craft({encrypted}), "e: encrypted"},
        {"unknown method", Craft({bzip}), "b: packed with method 12"},
        {"local header names another file", Craft({otherName}), "x: damaged (the header names"},
        {"member over the cap", Craft({huge}), "h: larger than"},
        {"zip64 sizes", Craft({zip64}), "z: zip64"},
        // Sizes only: the directory claims them, nothing is unpacked.
        {"files over the total cap", Craft(atCap),
         "the files unpack to more than"},
    };
    // The directory offset pointing past the end, and a local header moved away.
    std::string farDirectory = good;
    farDirectory[farDirectory.size() - 6] = '\x7f';
    std::string movedHeader = good;
    movedHeader[0] = 'X';
    std::vector<Case> all = cases;
    all.push_back({"directory outside the archive", farDirectory, "damaged archive: the directory"});
    all.push_back({"no local header", movedHeader, "a: damaged (no header"});
    for (const Case& c : all) {
        std::vector<TZipMember> back;
        const std::string reason = ReadAll(c.archive, back);
        EXPECT_EQ(reason.substr(0, c.reason.size()), c.reason) << c.what << ": " << reason;
    }
}

TEST(ZipArchive, EveryTruncationAndBitFlipGivesAReasonOrTheRightBytes) {
    const std::string a = "first file, long enough to be worth packing, packing, packing";
    const std::string b = Binary().substr(0, 200);
    const std::string archive = Craft({Deflated("a", a), Stored("dir/b", b)}, "note");
    std::vector<TZipMember> back;
    for (size_t n = 0; n < archive.size(); ++n) {
        EXPECT_NE(ReadAll(archive.substr(0, n), back), "") << n << " bytes";
    }
    for (size_t bit = 0; bit < 8 * archive.size(); ++bit) {
        std::string flipped = archive;
        flipped[bit / 8] = char(flipped[bit / 8] ^ (1 << bit % 8));
        TZipReader reader;
        std::string error;
        if (!reader.Open(flipped, error)) {
            EXPECT_NE(error, "");
            continue;
        }
        for (const TZipEntry& e : reader.Entries()) {
            std::string out;
            if (!reader.Extract(e, out, error)) {
                EXPECT_EQ(error.substr(0, e.name.size()), e.name) << "bit " << bit;
                continue;
            }
            // Whatever is accepted is a file the archive really holds, whole.
            EXPECT_TRUE((e.name == "a" && out == a) || (e.name == "dir/b" && out == b))
                << "bit " << bit << " gave " << e.name;
        }
    }
}

}  // namespace
