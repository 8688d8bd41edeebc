// Binary data beside the line-oriented streams: zlib packing and unpacking of
// byte strings, and a CRC-32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace media {

// Returns bytes packed with zlib at the given level (0..9); empty on failure.
std::string PackBytes(std::string_view bytes, int level = 9);
// Unpacks zlib data that must come to exactly expectedSize bytes and end where
// packed ends; false when the data is damaged, followed by other bytes, or its size differs.
bool UnpackBytes(std::string_view packed, size_t expectedSize, std::string& out);
// Returns the CRC-32 (as zlib computes it) of bytes.
uint32_t Crc32(std::string_view bytes);

}  // namespace media
