// zlib streams in the browser build, without zlib: the program's own reader,
// and packing into stored (uncompressed) blocks, which every zlib reads.
#include "engine/media/binary_files.h"

#include <algorithm>

#include "engine/media/inflate.h"

namespace media {

namespace {

// The largest stored block a deflate stream holds.
constexpr size_t kStoredBlockBytes = 65535;

// Appends v as four bytes, most significant first.
void AppendBigEndian(std::string& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
}

}  // namespace

std::string PackBytes(std::string_view bytes, int) {
    std::string packed = {'\x78', '\x01'};  // deflate, 32K window, fastest, valid check bits
    size_t at = 0;
    do {
        const size_t n = std::min(kStoredBlockBytes, bytes.size() - at);
        const bool last = at + n == bytes.size();
        packed.push_back(last ? '\x01' : '\x00');
        const auto len = static_cast<uint16_t>(n);
        const auto nlen = static_cast<uint16_t>(~len);
        packed.push_back(static_cast<char>(len & 0xFF));
        packed.push_back(static_cast<char>(len >> 8));
        packed.push_back(static_cast<char>(nlen & 0xFF));
        packed.push_back(static_cast<char>(nlen >> 8));
        packed.append(bytes.substr(at, n));
        at += n;
    } while (at < bytes.size());
    AppendBigEndian(packed, Adler32(bytes));
    return packed;
}

bool UnpackBytes(std::string_view packed, size_t expectedSize, std::string& out) {
    return InflateZlib(packed, expectedSize, out);
}

uint32_t Crc32(std::string_view bytes) {
    return TableCrc32(bytes);
}

}  // namespace media
