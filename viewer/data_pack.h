// The browser viewer's data pack (zarquill-viewer-data.bin): the game files
// the viewer needs (images, sounds), the glyphs of every font face the game
// draws with, rendered natively, and the pixel size of each image, in one
// checked archive. The native build writes it; the viewer (and the page's
// script, which decodes the images) read it. A pack comes over the network,
// so reading treats it as hostile: every count and size is capped and checked
// before use, and a damaged pack is refused whole.
//
// Layout (integers little-endian):
//   "ZQVPACK1"  u32 entry count
//   per entry:  u16 name length, name, u32 a, u32 b, u32 size, size bytes
//   u32 CRC-32 of everything before it
// Names are "Common/<file>" or "274/<file>" for game files (a, b: for a .png
// its width and height, else 0), and "faces/<font file>@<size>" for a baked
// face (a: its size unpacked, b: 0; the bytes are zlib-packed).
// Baked face (unpacked): "ZQGF", i32 ascent, i32 descent, u16 glyph count, per
// glyph u16 code, i32 index, u32 advance (float bits), i32 left, i32 top,
// u16 width, u16 rows, width × rows bytes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine/media/binary_files.h"
#include "engine/media/browser/baked_face.h"

namespace viewer {

inline constexpr char kPackMagic[] = "ZQVPACK1";
inline constexpr size_t kPackMagicBytes = 8;
inline constexpr char kFaceMagic[] = "ZQGF";
// Caps on what a pack may hold.
inline constexpr uint32_t kMaxPackEntries = 4096;
inline constexpr size_t kMaxPackNameBytes = 255;
inline constexpr uint32_t kMaxPackEntryBytes = 64u * 1024 * 1024;
inline constexpr size_t kMaxPackBytes = size_t{256} * 1024 * 1024;
// Largest side of a baked glyph, and the largest unpacked baked face.
inline constexpr int kMaxGlyphSide = 4096;
inline constexpr uint32_t kMaxFaceBytes = 64u * 1024 * 1024;
// Name prefix of baked faces.
inline constexpr std::string_view kFacePrefix = "faces/";

// One file of a pack.
struct PackEntry {
    std::string name;
    uint32_t a = 0, b = 0;
    std::string bytes;
};

namespace detail {

// Reads little-endian integers from a byte string, failing (never reading past the end) once short.
class Reader {
  public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}
    // Takes the next n bytes; false (and every later read fails) when fewer are left.
    bool Bytes(size_t n, std::string_view& out) {
        if (!ok_ || n > bytes_.size() - at_) return ok_ = false;
        out = bytes_.substr(at_, n);
        at_ += n;
        return true;
    }
    // Returns the next n-byte (1..4) unsigned integer, 0 once short.
    uint32_t U(size_t n) {
        std::string_view b;
        if (!Bytes(n, b)) return 0;
        uint32_t v = 0;
        for (size_t i = 0; i < n; ++i) v |= static_cast<uint32_t>(static_cast<uint8_t>(b[i])) << (8 * i);
        return v;
    }
    // Returns the next 4-byte signed integer, 0 once short.
    int32_t I32() { return static_cast<int32_t>(U(4)); }
    // Returns false once a read fell short.
    bool ok() const { return ok_; }
    // Returns true when every byte was read.
    bool AtEnd() const { return at_ == bytes_.size(); }

  private:
    std::string_view bytes_;
    size_t at_ = 0;
    bool ok_ = true;
};

// Appends v as n little-endian bytes.
inline void Put(std::string& out, uint32_t v, size_t n) {
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

}  // namespace detail

// Returns the pack of the entries (names and sizes must be within the caps).
inline std::string WritePack(const std::vector<PackEntry>& entries) {
    std::string out(kPackMagic, kPackMagicBytes);
    detail::Put(out, static_cast<uint32_t>(entries.size()), 4);
    for (const PackEntry& e : entries) {
        detail::Put(out, static_cast<uint32_t>(e.name.size()), 2);
        out += e.name;
        detail::Put(out, e.a, 4);
        detail::Put(out, e.b, 4);
        detail::Put(out, static_cast<uint32_t>(e.bytes.size()), 4);
        out += e.bytes;
    }
    detail::Put(out, media::Crc32(out), 4);
    return out;
}

// Reads a pack into entries; false (entries empty, the reason in why) for a damaged or oversized pack.
inline bool ReadPack(std::string_view pack, std::vector<PackEntry>& entries, std::string& why) {
    entries.clear();
    auto fail = [&](const std::string& reason) {
        entries.clear();
        why = reason;
        return false;
    };
    if (pack.size() > kMaxPackBytes) {
        return fail("larger than " + std::to_string(kMaxPackBytes) + " bytes");
    }
    if (pack.size() < kPackMagicBytes + 8 || pack.substr(0, kPackMagicBytes) != kPackMagic) {
        return fail("not a viewer data pack");
    }
    const std::string_view body = pack.substr(0, pack.size() - 4);
    detail::Reader crc(pack.substr(pack.size() - 4));
    if (crc.U(4) != media::Crc32(body)) return fail("damaged (check value differs)");
    detail::Reader r(body.substr(kPackMagicBytes));
    const uint32_t count = r.U(4);
    if (count > kMaxPackEntries) {
        return fail("more than " + std::to_string(kMaxPackEntries) + " entries");
    }
    for (uint32_t i = 0; i < count && r.ok(); ++i) {
        PackEntry e;
        std::string_view name, bytes;
        const size_t nameBytes = r.U(2);
        if (nameBytes == 0 || nameBytes > kMaxPackNameBytes || !r.Bytes(nameBytes, name)) {
            return fail("entry " + std::to_string(i) + " has no usable name");
        }
        e.name = name;
        if (e.name.find("..") != std::string::npos || e.name[0] == '/' ||
            e.name.find('\0') != std::string::npos) {
            return fail("entry name \"" + e.name + "\" leaves the pack's folders");
        }
        e.a = r.U(4);
        e.b = r.U(4);
        const uint32_t size = r.U(4);
        if (size > kMaxPackEntryBytes) {
            return fail("entry \"" + e.name + "\" is larger than " +
                        std::to_string(kMaxPackEntryBytes) + " bytes");
        }
        if (!r.Bytes(size, bytes)) return fail("cut short in entry \"" + e.name + "\"");
        e.bytes = bytes;
        entries.push_back(std::move(e));
    }
    if (!r.ok() || !r.AtEnd()) return fail("damaged (its entries do not fill it)");
    return true;
}

// Returns a face's glyphs in the pack's form (unpacked).
inline std::string WriteBakedFace(const media::BakedFace& face) {
    std::string out(kFaceMagic, 4);
    detail::Put(out, static_cast<uint32_t>(face.ascent), 4);
    detail::Put(out, static_cast<uint32_t>(face.descent), 4);
    uint32_t count = 0;
    for (const media::BakedGlyph& g : face.glyphs) count += g.index >= 0 ? 1 : 0;
    detail::Put(out, count, 2);
    for (size_t code = 0; code < face.glyphs.size(); ++code) {
        const media::BakedGlyph& g = face.glyphs[code];
        if (g.index < 0) continue;
        uint32_t advance = 0;
        std::memcpy(&advance, &g.advance, 4);
        detail::Put(out, static_cast<uint32_t>(code), 2);
        detail::Put(out, static_cast<uint32_t>(g.index), 4);
        detail::Put(out, g.rendered ? advance : 0, 4);
        detail::Put(out, static_cast<uint32_t>(g.left), 4);
        detail::Put(out, static_cast<uint32_t>(g.top), 4);
        // A glyph the renderer refused is kept as present but without a bitmap or advance.
        detail::Put(out, g.rendered ? static_cast<uint32_t>(g.width) : 0xFFFF, 2);
        detail::Put(out, g.rendered ? static_cast<uint32_t>(g.rows) : 0, 2);
        if (g.rendered) out.append(g.bits.begin(), g.bits.end());
    }
    return out;
}

// Reads a face from its packed bytes (unpacked size given); false with the reason in why.
inline bool ReadBakedFace(std::string_view packed, uint32_t unpackedSize, media::BakedFace& face,
                          std::string& why) {
    face = media::BakedFace{};
    std::string bytes;
    if (unpackedSize > kMaxFaceBytes || !media::UnpackBytes(packed, unpackedSize, bytes)) {
        why = "glyphs damaged or too large";
        return false;
    }
    detail::Reader r(bytes);
    std::string_view magic;
    if (!r.Bytes(4, magic) || magic != kFaceMagic) {
        why = "not baked glyphs";
        return false;
    }
    face.ascent = r.I32();
    face.descent = r.I32();
    const uint32_t count = r.U(2);
    bool bad = false;
    for (uint32_t i = 0; i < count && r.ok() && !bad; ++i) {
        const uint32_t code = r.U(2);
        media::BakedGlyph g;
        g.index = r.I32();
        const uint32_t advance = r.U(4);
        std::memcpy(&g.advance, &advance, 4);
        g.left = r.I32();
        g.top = r.I32();
        const uint32_t width = r.U(2), rows = r.U(2);
        g.rendered = width != 0xFFFF;
        if (!g.rendered) g.advance = 0;
        if (code >= media::kBakedCodes || g.index < 0 ||
            (g.rendered && (width > kMaxGlyphSide || rows > kMaxGlyphSide))) {
            bad = true;
            break;
        }
        if (g.rendered) {
            g.width = static_cast<int>(width);
            g.rows = static_cast<int>(rows);
            std::string_view bits;
            if (!r.Bytes(static_cast<size_t>(width) * rows, bits)) break;  // r fails
            g.bits.assign(bits.begin(), bits.end());
        }
        face.glyphs[code] = std::move(g);
    }
    if (bad || !r.ok() || !r.AtEnd()) {
        face = media::BakedFace{};
        why = "glyphs damaged";
        return false;
    }
    return true;
}

}  // namespace viewer
