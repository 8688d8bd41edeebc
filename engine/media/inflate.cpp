// Unpacking zlib streams (a two-byte header, deflate blocks, an Adler-32 of
// the result) and the CRC-32, with the standard library alone. The input is
// treated as hostile: every read is bounds-checked, every loop either makes
// output or consumes input, and the output never grows past what the caller
// expects (nor past what the packed bytes could possibly hold).
#include "engine/media/inflate.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>

namespace media {

namespace {

// The longest Huffman code deflate allows, in bits.
constexpr int kMaxCodeBits = 15;
// Literal/length symbols a code may describe (286 and 287 exist only in the fixed code).
constexpr int kLitLenSymbols = 288;
// Distance symbols a code may describe (30 and 31 exist only in the fixed code).
constexpr int kDistSymbols = 32;
// Most literal/length and distance code lengths a dynamic block may send.
constexpr int kMaxLitLenCodes = 286;
constexpr int kMaxDistCodes = 30;
// The end-of-block symbol and the first length symbol.
constexpr int kEndOfBlock = 256;
constexpr int kFirstLength = 257;
// Symbols of the code that packs a dynamic block's code lengths.
constexpr int kCodeLengthSymbols = 19;
// Most bytes one packed byte can stand for: a 258-byte match in two bits.
constexpr size_t kMaxExpansion = 1032;
// Adler-32: the modulus, and the most bytes summed before the sums must be reduced.
constexpr uint32_t kAdlerModulus = 65521;
constexpr size_t kAdlerRun = 5552;
// The zlib header's only compression method, and its largest window (32K) as CINFO.
constexpr unsigned kMethodDeflate = 8;
constexpr unsigned kMaxWindowInfo = 7;
constexpr unsigned kPresetDictionaryFlag = 0x20;

// Base lengths and extra bits of length symbols 257..285.
constexpr uint16_t kLengthBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                    2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Base distances and extra bits of distance symbols 0..29.
constexpr uint16_t kDistBase[] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                  33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                  1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                  6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block sends the code-length code's lengths.
constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// The CRC-32 of each byte value (reflected polynomial 0xEDB88320).
constexpr std::array<uint32_t, 256> kCrcTable = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}();

// Bits of the packed bytes, least significant first. Reading past the end
// gives zero bits and is remembered: Overrun() tells whether any were used.
class BitReader {
  public:
    explicit BitReader(std::string_view bytes) : bytes_(bytes) {}

    // Returns the next n (0..16) bits.
    uint32_t Bits(int n) {
        Fill(n);
        const uint32_t v = static_cast<uint32_t>(buffer_ & ((uint64_t{1} << n) - 1));
        buffer_ >>= n;
        count_ -= n;
        return v;
    }
    // Drops the bits up to the next byte boundary.
    void Align() { Bits(count_ % 8); }
    // Copies n whole bytes (the reader must be at a byte boundary); false when there are fewer.
    bool CopyBytes(size_t n, char* to) {
        for (; n > 0 && count_ >= 8; --n) *to++ = static_cast<char>(Bits(8));
        if (Overrun() || bytes_.size() - pos_ < n) return false;
        std::memcpy(to, bytes_.data() + pos_, n);
        pos_ += n;
        return true;
    }
    // Tells whether bits past the end of the bytes were used.
    bool Overrun() const { return count_ < 8 * padding_; }
    // Tells whether every byte has been read (bits left over in the last one aside).
    bool AtEnd() const { return pos_ == bytes_.size() && count_ - 8 * padding_ < 8; }

  private:
    void Fill(int n) {
        while (count_ < n) {
            if (pos_ < bytes_.size()) {
                buffer_ |= uint64_t{static_cast<uint8_t>(bytes_[pos_++])} << count_;
            } else {
                ++padding_;
            }
            count_ += 8;
        }
    }

    std::string_view bytes_;
    size_t pos_ = 0;
    uint64_t buffer_ = 0;
    int count_ = 0;
    int padding_ = 0;
};

// A canonical Huffman code: how many codes have each length, and the symbols
// in code order (by length, then by symbol).
struct HuffmanCode {
    std::array<uint16_t, kMaxCodeBits + 1> counts{};
    std::array<uint16_t, kLitLenSymbols> symbols{};
};

// The growing output, in a buffer sized once for the most it may hold.
struct Output {
    std::string& bytes;
    size_t size = 0;
};

// Builds the code for the given lengths; returns the unused share of the code
// space (0 when complete, in units of 2^-15), negative when over-subscribed.
int BuildCode(HuffmanCode& code, const uint8_t* lengths, int n) {
    code.counts.fill(0);
    for (int s = 0; s < n; ++s) ++code.counts[lengths[s]];
    code.counts[0] = 0;
    int left = 1;
    std::array<uint16_t, kMaxCodeBits + 2> offsets{};
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        left = 2 * left - code.counts[len];
        if (left < 0) return left;
        offsets[len + 1] = static_cast<uint16_t>(offsets[len] + code.counts[len]);
    }
    for (int s = 0; s < n; ++s) {
        if (lengths[s] != 0) code.symbols[offsets[lengths[s]]++] = static_cast<uint16_t>(s);
    }
    return left;
}

// Tells whether a literal/length or distance code may be used: complete, or
// holding at most one code, one bit long (a block that needs a single distance).
bool UsableCode(const HuffmanCode& code, int left) {
    if (left == 0) return true;
    for (int len = 2; len <= kMaxCodeBits; ++len) {
        if (code.counts[len] != 0) return false;
    }
    return left > 0 && code.counts[1] <= 1;
}

// Reads one symbol, a bit at a time; -1 when the bits are no code.
int Decode(BitReader& in, const HuffmanCode& code) {
    int value = 0;  // the bits read so far, first bit most significant
    int first = 0;  // the first code of the current length
    int index = 0;  // where the current length's symbols start
    for (int len = 1; len <= kMaxCodeBits; ++len) {
        value |= static_cast<int>(in.Bits(1));
        const int count = code.counts[len];
        if (value - first < count) return code.symbols[index + value - first];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

// Returns the fixed literal/length and distance codes of block type 1.
const std::pair<HuffmanCode, HuffmanCode>& FixedCodes() {
    static const std::pair<HuffmanCode, HuffmanCode> codes = [] {
        std::pair<HuffmanCode, HuffmanCode> c;
        std::array<uint8_t, kLitLenSymbols> lengths{};
        std::fill(lengths.begin(), lengths.begin() + 144, 8);
        std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
        std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
        std::fill(lengths.begin() + 280, lengths.end(), 8);
        BuildCode(c.first, lengths.data(), kLitLenSymbols);
        lengths.fill(5);
        BuildCode(c.second, lengths.data(), kDistSymbols);
        return c;
    }();
    return codes;
}

// Reads a dynamic block's code lengths and builds its two codes; false when they are damaged.
bool ReadDynamicCodes(BitReader& in, HuffmanCode& lit, HuffmanCode& dist) {
    const int nLit = static_cast<int>(in.Bits(5)) + kFirstLength;
    const int nDist = static_cast<int>(in.Bits(5)) + 1;
    const int nCodeLen = static_cast<int>(in.Bits(4)) + 4;
    if (nLit > kMaxLitLenCodes || nDist > kMaxDistCodes) return false;
    std::array<uint8_t, kMaxLitLenCodes + kMaxDistCodes> lengths{};
    for (int i = 0; i < nCodeLen; ++i)
        lengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.Bits(3));
    HuffmanCode lenCode;
    if (BuildCode(lenCode, lengths.data(), kCodeLengthSymbols) != 0) return false;
    lengths.fill(0);
    for (int i = 0; i < nLit + nDist;) {
        const int sym = Decode(in, lenCode);
        if (sym < 0 || in.Overrun()) return false;
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        // 16 repeats the previous length 3..6 times; 17 and 18 send runs of zeros.
        uint8_t repeated = 0;
        int times = 0;
        if (sym == 16) {
            if (i == 0) return false;
            repeated = lengths[i - 1];
            times = 3 + static_cast<int>(in.Bits(2));
        } else if (sym == 17) {
            times = 3 + static_cast<int>(in.Bits(3));
        } else {
            times = 11 + static_cast<int>(in.Bits(7));
        }
        if (i + times > nLit + nDist) return false;
        std::fill_n(lengths.begin() + i, times, repeated);
        i += times;
    }
    if (lengths[kEndOfBlock] == 0) return false;
    const int litLeft = BuildCode(lit, lengths.data(), nLit);
    if (!UsableCode(lit, litLeft)) return false;
    const int distLeft = BuildCode(dist, lengths.data() + nLit, nDist);
    return UsableCode(dist, distLeft) && !in.Overrun();
}

// Unpacks one Huffman-coded block's symbols up to its end; false when damaged or too long.
bool InflateCodes(BitReader& in, const HuffmanCode& lit, const HuffmanCode& dist, Output& out) {
    char* data = out.bytes.data();
    const size_t capacity = out.bytes.size();
    for (;;) {
        const int sym = Decode(in, lit);
        if (sym < 0 || in.Overrun()) return false;
        if (sym < kEndOfBlock) {
            if (out.size == capacity) return false;
            data[out.size++] = static_cast<char>(sym);
            continue;
        }
        if (sym == kEndOfBlock) return true;
        const int li = sym - kFirstLength;
        if (li >= static_cast<int>(std::size(kLengthBase))) return false;
        const size_t length = kLengthBase[li] + in.Bits(kLengthExtra[li]);
        const int ds = Decode(in, dist);
        if (ds < 0 || ds >= static_cast<int>(std::size(kDistBase))) return false;
        const size_t distance = kDistBase[ds] + in.Bits(kDistExtra[ds]);
        if (in.Overrun() || distance > out.size || capacity - out.size < length) return false;
        // Byte by byte: the source may overlap the bytes being written.
        const char* from = data + out.size - distance;
        char* to = data + out.size;
        for (size_t k = 0; k < length; ++k) to[k] = from[k];
        out.size += length;
    }
}

// Reads the deflate blocks up to the last one; false when damaged or too long.
bool InflateBlocks(BitReader& in, Output& out) {
    HuffmanCode lit;
    HuffmanCode dist;
    bool last = false;
    while (!last) {
        last = in.Bits(1) != 0;
        const uint32_t type = in.Bits(2);
        if (in.Overrun()) return false;
        if (type == 0) {
            // Stored: to a byte boundary, LEN and its complement, LEN raw bytes.
            in.Align();
            const uint32_t len = in.Bits(16);
            const uint32_t nlen = in.Bits(16);
            if (in.Overrun() || len != (~nlen & 0xFFFFu)) return false;
            if (out.bytes.size() - out.size < len) return false;
            if (!in.CopyBytes(len, out.bytes.data() + out.size)) return false;
            out.size += len;
        } else if (type == 1) {
            const auto& fixed = FixedCodes();
            if (!InflateCodes(in, fixed.first, fixed.second, out)) return false;
        } else if (type == 2) {
            if (!ReadDynamicCodes(in, lit, dist) || !InflateCodes(in, lit, dist, out)) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Returns the size an output buffer is given once: never more than expected,
// nor than the packed bytes could unpack to.
size_t MostUnpacked(std::string_view packed, size_t expectedSize) {
    return packed.size() > SIZE_MAX / kMaxExpansion
               ? expectedSize
               : std::min(expectedSize, packed.size() * kMaxExpansion);
}

// Unpacks into out (sized for the most it may hold) and checks the frame; false when damaged.
bool InflateStream(std::string_view packed, size_t expectedSize, Output& out) {
    BitReader in(packed);
    const uint32_t cmf = in.Bits(8);
    const uint32_t flg = in.Bits(8);
    if (in.Overrun() || (cmf & 0x0Fu) != kMethodDeflate || (cmf >> 4) > kMaxWindowInfo ||
        (cmf * 256 + flg) % 31 != 0 || (flg & kPresetDictionaryFlag) != 0) {
        return false;
    }
    if (!InflateBlocks(in, out) || out.size != expectedSize) return false;
    in.Align();
    uint32_t check = 0;
    for (int i = 0; i < 4; ++i) check = (check << 8) | in.Bits(8);
    return !in.Overrun() && in.AtEnd() &&
           check == Adler32(std::string_view(out.bytes.data(), out.size));
}

}  // namespace

uint32_t Adler32(std::string_view bytes) {
    uint32_t a = 1;
    uint32_t b = 0;
    while (!bytes.empty()) {
        const size_t run = std::min(bytes.size(), kAdlerRun);
        for (size_t i = 0; i < run; ++i) {
            a += static_cast<uint8_t>(bytes[i]);
            b += a;
        }
        a %= kAdlerModulus;
        b %= kAdlerModulus;
        bytes.remove_prefix(run);
    }
    return (b << 16) | a;
}

bool InflateZlib(std::string_view packed, size_t expectedSize, std::string& out) {
    out.assign(MostUnpacked(packed, expectedSize), '\0');
    Output result{out};
    if (!InflateStream(packed, expectedSize, result)) {
        out.clear();
        return false;
    }
    return true;
}

bool InflateRaw(std::string_view packed, size_t expectedSize, std::string& out) {
    out.assign(MostUnpacked(packed, expectedSize), '\0');
    Output result{out};
    BitReader in(packed);
    if (!InflateBlocks(in, result) || result.size != expectedSize || in.Overrun() || !in.AtEnd()) {
        out.clear();
        return false;
    }
    return true;
}

uint32_t TableCrc32(std::string_view bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : bytes)
        crc = kCrcTable[(crc ^ static_cast<uint8_t>(c)) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

}  // namespace media
