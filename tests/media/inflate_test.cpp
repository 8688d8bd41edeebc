// Tests of the own zlib reader (framed and bare deflate) and CRC-32 against the zlib library: the same
// bytes back for streams of every block kind, the same verdict on damaged,
// truncated and crafted streams, and never a crash.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "engine/media/binary_files.h"
#include "engine/media/inflate.h"

using media::InflateZlib;

namespace {

// Packs bytes with zlib at a level, strategy and window size.
std::string ZlibPack(const std::string& raw, int level, int strategy = Z_DEFAULT_STRATEGY,
                     int windowBits = 15) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, strategy), Z_OK);
    std::string packed(deflateBound(&z, raw.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = reinterpret_cast<Bytef*>(packed.data());
    z.avail_out = static_cast<uInt>(packed.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    packed.resize(z.total_out);
    deflateEnd(&z);
    return packed;
}

// Tells whether zlib unpacks the whole of packed to exactly size bytes (into out).
bool ZlibAccepts(const std::string& packed, size_t size, std::string& out) {
    out.assign(size + 1, '\0');
    uLongf outLen = out.size();
    uLong inLen = packed.size();
    const int rc = uncompress2(reinterpret_cast<Bytef*>(out.data()), &outLen,
                               reinterpret_cast<const Bytef*>(packed.data()), &inLen);
    out.resize(outLen);
    return rc == Z_OK && outLen == size && inLen == packed.size();
}

// The inputs: empty, one byte, text, random bytes, long runs, and a megabyte of all three.
std::vector<std::string> Inputs() {
    std::mt19937 rng(7);
    auto random = [&](size_t n) {
        std::string s(n, '\0');
        for (auto& c : s) c = static_cast<char>(rng());
        return s;
    };
    std::string text;
    for (int i = 0; i < 200; ++i) text += "wave " + std::to_string(i * 37 % 101) + " cleared; ";
    const std::string runs = std::string(70000, 'a') + std::string(300, 'b') + std::string(5, 'c');
    std::string mixed;
    while (mixed.size() < (1u << 20)) mixed += text + random(3000) + runs.substr(0, rng() % 9000);
    return {"", "x", text, random(5000), runs, mixed};
}

// Writes bits least significant first, and Huffman codes first bit first.
struct BitWriter {
    std::string bytes;
    int used = 0;
    BitWriter& Put(uint32_t value, int n) {
        for (int i = 0; i < n; ++i, ++used) {
            if (used % 8 == 0) bytes += '\0';
            bytes.back() = static_cast<char>(bytes.back() | ((value >> i) & 1u) << (used % 8));
        }
        return *this;
    }
    BitWriter& Code(uint32_t code, int n) {
        for (int i = n - 1; i >= 0; --i) Put(code >> i, 1);
        return *this;
    }
};

// A zlib stream (header 78 01) around the blocks, with the Adler-32 of raw.
std::string Framed(const BitWriter& blocks, const std::string& raw) {
    const uLong a = adler32(1, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size()));
    return std::string("\x78\x01", 2) + blocks.bytes +
           std::string{char(a >> 24), char(a >> 16), char(a >> 8), char(a)};
}

// The code-length code the crafted blocks use: lengths 0..14 and the repeat 16, four bits each
// (lengths 0..14 are sent as their own value, 16 as 1111 and two extra bits of zero).
const std::vector<int> kFourBitLengthCode = {4, 0, 0, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4};

// A last dynamic block: the code-length code's lengths in sent order, the literal/length and
// distance lengths (a 16 is a repeat), and the coded symbols as a string of bits.
BitWriter Dynamic(int nLit, int nDist, const std::vector<int>& lengths, const std::string& body,
                  const std::vector<int>& lengthCode = kFourBitLengthCode) {
    BitWriter w;
    w.Put(1, 1).Put(2, 2).Put(nLit - 257, 5).Put(nDist - 1, 5).Put(int(lengthCode.size()) - 4, 4);
    for (int len : lengthCode) w.Put(len, 3);
    for (int len : lengths) len == 16 ? w.Code(15, 4).Put(0, 2) : w.Code(len, 4);
    for (char bit : body) w.Put(bit == '1', 1);
    return w;
}

// Lengths of n symbols, zero but for the given (symbol, length) pairs.
std::vector<int> Lengths(int n, std::vector<std::pair<int, int>> set) {
    std::vector<int> v(n, 0);
    for (auto [sym, len] : set) v[sym] = len;
    return v;
}

// Concatenates the literal/length and distance lengths.
std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(InflateTest, UnpacksWhatZlibPacksAndSumsAsZlibDoes) {
    struct Setting {
        int level, strategy, windowBits;
    };
    const Setting settings[] = {{0, Z_DEFAULT_STRATEGY, 15},
                                {1, Z_DEFAULT_STRATEGY, 15},
                                {6, Z_DEFAULT_STRATEGY, 15},
                                {9, Z_DEFAULT_STRATEGY, 15},
                                {6, Z_FIXED, 15},
                                {6, Z_HUFFMAN_ONLY, 15},
                                {6, Z_RLE, 15},
                                {9, Z_DEFAULT_STRATEGY, 9}};
    for (const std::string& raw : Inputs()) {
        EXPECT_EQ(media::TableCrc32(raw),
                  crc32(0, reinterpret_cast<const Bytef*>(raw.data()), uInt(raw.size())));
        for (const Setting& s : settings) {
            SCOPED_TRACE(testing::Message() << raw.size() << " bytes, level " << s.level
                                            << ", strategy " << s.strategy);
            const std::string packed = ZlibPack(raw, s.level, s.strategy, s.windowBits);
            std::string out = "stale";
            EXPECT_TRUE(InflateZlib(packed, raw.size(), out));
            EXPECT_TRUE(out == raw);
            // One byte more or less than the stream holds is a different file.
            EXPECT_FALSE(InflateZlib(packed, raw.size() + 1, out));
            EXPECT_TRUE(out.empty());
            // Nor may a size no stream could reach set aside memory for it.
            EXPECT_FALSE(InflateZlib(packed, SIZE_MAX / 2, out));
            if (!raw.empty()) {
                EXPECT_FALSE(InflateZlib(packed, raw.size() - 1, out));
            }
            // The same blocks without the zlib frame, as a zip member holds them.
            const std::string bare = ZlibPack(raw, s.level, s.strategy, -s.windowBits);
            EXPECT_TRUE(media::InflateRaw(bare, raw.size(), out));
            EXPECT_TRUE(out == raw);
            EXPECT_FALSE(media::InflateRaw(bare + "x", raw.size(), out));
            EXPECT_FALSE(media::InflateRaw(bare, raw.size() + 1, out));
            EXPECT_FALSE(media::InflateRaw(packed, raw.size(), out));
        }
    }
}

TEST(InflateTest, DamagedStreamsGetZlibsVerdict) {
    const std::string raw = Inputs()[2].substr(0, 300);
    for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
        for (int level : {0, 9}) {
            const std::string packed = ZlibPack(raw, level, strategy);
            std::string out;
            std::string expected;
            for (size_t n = 0; n < packed.size(); ++n) {
                EXPECT_FALSE(InflateZlib(packed.substr(0, n), raw.size(), out)) << n << " bytes";
            }
            for (size_t bit = 0; bit < 8 * packed.size(); ++bit) {
                std::string flipped = packed;
                flipped[bit / 8] = char(flipped[bit / 8] ^ (1 << bit % 8));
                const bool zlib = ZlibAccepts(flipped, raw.size(), expected);
                ASSERT_EQ(InflateZlib(flipped, raw.size(), out), zlib) << "bit " << bit;
                if (zlib) {
                    EXPECT_EQ(out, expected);
                }
            }
        }
    }
}

TEST(InflateTest, CraftedStreamsGetZlibsVerdict) {
    const std::string good = ZlibPack("aaaa", 9);
    const std::string aaaa = "aaaa";
    // 'a' 0, end-of-block 10, length 3 11; a single distance code 0 (for distance 1 or 2).
    const auto litCode = Lengths(258, {{'a', 1}, {256, 2}, {257, 2}});
    const std::string aThenMatch = "011010";  // a, length 3, distance, end
    struct Row {
        const char* name;
        std::string stream;
        bool accepted;
    };
    const Row rows[] = {
        {"zlib's own", good, true},
        {"header check off", std::string("\x78\x02", 2) + good.substr(2), false},
        {"method 7", std::string("\x77\x09", 2) + good.substr(2), false},
        {"window of 64K", std::string("\x88\x1c", 2) + good.substr(2), false},
        {"preset dictionary", std::string("\x78\x20", 2) + good.substr(2), false},
        {"Adler-32 off", good.substr(0, good.size() - 1) + char(good.back() ^ 1), false},
        {"a byte after the stream", good + '\0', false},
        {"stored LEN not ~NLEN",
         Framed(BitWriter().Put(1, 3).Put(0, 5).Put(0x00040004, 32).Put(0x61616161, 32), aaaa),
         false},
        {"block type 3", Framed(BitWriter().Put(7, 3), aaaa), false},
        {"288 literal codes", Framed(Dynamic(288, 1, {}, ""), aaaa), false},
        {"over-subscribed length code",
         Framed(Dynamic(257, 1, {}, "", std::vector<int>(19, 1)), aaaa), false},
        {"incomplete length code", Framed(Dynamic(257, 1, {}, "", {2, 2, 0, 0}), aaaa), false},
        {"over-subscribed literal code",
         Framed(Dynamic(258, 1, Lengths(258, {{'a', 1}, {256, 1}, {257, 1}}) + std::vector<int>{1},
                        aThenMatch),
                aaaa),
         false},
        {"incomplete literal code",
         // Coded as it would be if allowed: 'a' 00, end-of-block 01, length 3 10; 'a', length
         // 3, distance, end.
         Framed(Dynamic(258, 1, Lengths(258, {{'a', 2}, {256, 2}, {257, 2}}) + std::vector<int>{1},
                        "00100001"),
                aaaa),
         false},
        {"no end-of-block code",
         Framed(Dynamic(258, 1, Lengths(258, {{'a', 1}, {257, 1}}) + std::vector<int>{1}, "0101"),
                aaaa),
         false},
        {"repeat with nothing before",
         Framed(
             Dynamic(258, 1,
                     std::vector<int>{16} + std::vector<int>(litCode.begin() + 3, litCode.end()) +
                         std::vector<int>{1},
                     aThenMatch),
             aaaa),
         false},
        {"repeat past the last length",  // a valid block if the repeat stopped at the end
         Framed(Dynamic(258, 1, Lengths(257, {{'a', 2}, {256, 2}}) + std::vector<int>{1, 16},
                        "100011"),
                aaaa),
         false},
        {"one one-bit distance code",
         Framed(Dynamic(258, 1, litCode + std::vector<int>{1}, aThenMatch), aaaa), true},
        {"distance before the start",
         Framed(Dynamic(258, 2, litCode + std::vector<int>{0, 1}, aThenMatch), aaaa), false},
        {"no distance code",
         Framed(Dynamic(258, 1, litCode + std::vector<int>{0}, aThenMatch), aaaa), false},
        {"fixed distance code 30",
         Framed(BitWriter().Put(3, 3).Code(0x91, 8).Code(1, 7).Code(30, 5).Code(0, 7), aaaa),
         false},
    };
    for (const Row& row : rows) {
        std::string out;
        std::string expected;
        EXPECT_EQ(ZlibAccepts(row.stream, aaaa.size(), expected), row.accepted) << row.name;
        EXPECT_EQ(InflateZlib(row.stream, aaaa.size(), out), row.accepted) << row.name;
        EXPECT_EQ(out, row.accepted ? aaaa : "") << row.name;
        // The native build's reader (zlib itself) gives the same verdict, trailing bytes included.
        EXPECT_EQ(media::UnpackBytes(row.stream, aaaa.size(), out), row.accepted) << row.name;
    }
}

}  // namespace
