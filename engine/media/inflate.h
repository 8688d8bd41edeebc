// Reading zlib data without the zlib library: unpacking a zlib stream and the
// CRC-32, in plain C++ for builds that have no zlib (the browser build reads
// replays with these). Same results as the native UnpackBytes and Crc32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace media {

// Unpacks a zlib stream that must come to exactly expectedSize bytes and end
// where packed ends; false (and out cleared) when the data is damaged,
// truncated, followed by other bytes, or its size differs.
bool InflateZlib(std::string_view packed, size_t expectedSize, std::string& out);
// Unpacks bare deflate blocks (no zlib header or check value, as a zip member
// holds them) that must come to exactly expectedSize bytes and end where
// packed ends; false (and out cleared) otherwise.
bool InflateRaw(std::string_view packed, size_t expectedSize, std::string& out);
// Returns the Adler-32 of bytes (the check value that ends a zlib stream).
uint32_t Adler32(std::string_view bytes);
// Returns the CRC-32 of bytes (the polynomial and bit order zlib uses).
uint32_t TableCrc32(std::string_view bytes);

}  // namespace media
