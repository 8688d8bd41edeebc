// Tests of the browser viewer's data pack reader, which reads what the network
// delivers: damaged and hostile packs and baked faces are refused whole (never
// read past their end, never a cap exceeded), and what the writer made reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "viewer/data_pack.h"

namespace {

// Returns bytes with their last four (the check value) made right again, so that damage
// behind a valid check value reaches the structural checks.
std::string Reseal(std::string pack) {
    pack.resize(pack.size() - 4);
    viewer::detail::Put(pack, media::Crc32(pack), 4);
    return pack;
}

// Returns a pack holding the entries, sealed.
std::string PackOf(std::vector<viewer::PackEntry> entries) {
    return viewer::WritePack(entries);
}

// Returns a face with two glyphs: 'A' rendered 2x3, space present without pixels.
media::BakedFace SmallFace() {
    media::BakedFace face;
    face.ascent = 12;
    face.descent = 4;
    media::BakedGlyph& a = face.glyphs['A'];
    a.index = 36;
    a.rendered = true;
    a.advance = 7.25f;
    a.left = 1;
    a.top = 9;
    a.width = 2;
    a.rows = 3;
    a.bits = {1, 2, 3, 4, 5, 6};
    media::BakedGlyph& space = face.glyphs[' '];
    space.index = 3;
    space.rendered = true;
    space.advance = 4.5f;
    return face;
}

TEST(ViewerPack, WrittenPackAndFaceReadBack) {
    const std::string faceBytes = viewer::WriteBakedFace(SmallFace());
    const std::string pack = PackOf({{"Common/icons.png", 128, 64, "png bytes"},
                                     {"faces/November.ttf@24", static_cast<uint32_t>(faceBytes.size()),
                                      0, media::PackBytes(faceBytes)},
                                     {"274/001.wav", 0, 0, std::string("RIFF\0x", 6)}});
    std::vector<viewer::PackEntry> entries;
    std::string why;
    ASSERT_TRUE(viewer::ReadPack(pack, entries, why)) << why;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "Common/icons.png");
    EXPECT_EQ(entries[0].a, 128u);
    EXPECT_EQ(entries[0].b, 64u);
    EXPECT_EQ(entries[2].bytes, std::string("RIFF\0x", 6));

    media::BakedFace face;
    ASSERT_TRUE(viewer::ReadBakedFace(entries[1].bytes, entries[1].a, face, why)) << why;
    EXPECT_EQ(face.ascent, 12);
    EXPECT_EQ(face.descent, 4);
    EXPECT_EQ(face.glyphs['A'].index, 36);
    EXPECT_EQ(face.glyphs['A'].advance, 7.25f);
    EXPECT_EQ(face.glyphs['A'].bits, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(face.glyphs[' '].rendered);
    EXPECT_TRUE(face.glyphs[' '].bits.empty());
    EXPECT_EQ(face.glyphs['B'].index, -1);
}

TEST(ViewerPack, DamagedPacksAreRefusedWhole) {
    const std::string good = PackOf({{"274/grid.png", 640, 640, std::string(300, 'p')},
                                     {"274/002.wav", 0, 0, std::string(50, 'w')}});
    std::vector<viewer::PackEntry> entries;
    std::string why;

    // Cut anywhere: nothing is read, whatever the cut left.
    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(viewer::ReadPack(good.substr(0, n), entries, why)) << n;
        EXPECT_TRUE(entries.empty());
        EXPECT_FALSE(viewer::ReadPack(Reseal(good.substr(0, std::max<size_t>(n, 4))), entries,
                                      why))
            << n;
    }

    struct Case {
        const char* what;
        std::string pack;
        const char* reason;
    };
    std::string flipped = good;
    flipped[40] ^= 0x10;
    std::string manyEntries = good;
    manyEntries.replace(8, 4, std::string("\xff\xff\x00\x00", 4));
    std::string hugeEntry = good;  // the first entry's size field: 12 + 2 + 12 + 8 bytes in
    hugeEntry.replace(8 + 4 + 2 + 12 + 8, 4, std::string("\xff\xff\xff\x7f", 4));
    const Case cases[] = {
        {"empty", "", "not a viewer data pack"},
        {"another file", std::string("\x89PNG\r\n\x1a\n") + std::string(40, '\0'),
         "not a viewer data pack"},
        {"one bit flipped", flipped, "check value differs"},
        {"bytes after the entries", Reseal(good + "tail"), "do not fill it"},
        {"entry count over the cap", Reseal(manyEntries), "more than 4096 entries"},
        {"entry larger than the cap", Reseal(hugeEntry), "larger than"},
        {"entry size past the end", Reseal(good.substr(0, good.size() - 20) + "1234"),
         "cut short"},
        {"empty name", PackOf({{"", 0, 0, "x"}}), "no usable name"},
        {"name over the cap", PackOf({{std::string(viewer::kMaxPackNameBytes + 1, 'n'), 0, 0, ""}}),
         "no usable name"},
        {"name leaving the folders", PackOf({{"Common/../../etc/passwd", 0, 0, "x"}}),
         "leaves the pack's folders"},
        {"absolute name", PackOf({{"/tmp/x", 0, 0, "x"}}), "leaves the pack's folders"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(viewer::ReadPack(c.pack, entries, why)) << c.what;
        EXPECT_TRUE(entries.empty()) << c.what;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.what << ": " << why;
    }
}

TEST(ViewerPack, DamagedFacesAreRefusedWhole) {
    const std::string raw = viewer::WriteBakedFace(SmallFace());
    const auto size = static_cast<uint32_t>(raw.size());
    media::BakedFace face;
    std::string why;

    // Every cut of the glyph data, packed as the writer packs it.
    for (size_t n = 0; n < raw.size(); ++n) {
        EXPECT_FALSE(viewer::ReadBakedFace(media::PackBytes(raw.substr(0, n)),
                                           static_cast<uint32_t>(n), face, why))
            << n;
        EXPECT_EQ(face.glyphs['A'].index, -1) << n;
    }

    std::string wide = raw;  // the first glyph's (space's) width field
    const size_t widthAt = 4 + 4 + 4 + 2 + 2 + 4 + 4 + 4 + 4;
    wide.replace(widthAt, 4, std::string("\x01\x10\x01\x10", 4));
    std::string badCode = raw;
    badCode.replace(4 + 4 + 4 + 2, 2, std::string("\x00\x01", 2));
    std::string moreGlyphs = raw;
    moreGlyphs.replace(4 + 4 + 4, 2, std::string("\x03\x00", 2));
    struct Case {
        const char* what;
        std::string packed;
        uint32_t size;
    };
    const Case cases[] = {
        {"size other than stated", media::PackBytes(raw), size + 1},
        {"size over the cap", media::PackBytes(raw), viewer::kMaxFaceBytes + 1},
        {"not zlib", raw, size},
        {"not baked glyphs", media::PackBytes("ZQXX" + raw.substr(4)), size},
        {"glyph over the side cap", media::PackBytes(wide), size},
        {"code outside 0..255", media::PackBytes(badCode), size},
        {"more glyphs than held", media::PackBytes(moreGlyphs), size},
        {"bytes after the glyphs", media::PackBytes(raw + "x"), size + 1},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(viewer::ReadBakedFace(c.packed, c.size, face, why)) << c.what;
        EXPECT_EQ(face.glyphs['A'].index, -1) << c.what;
        EXPECT_FALSE(why.empty()) << c.what;
    }
}

}  // namespace
