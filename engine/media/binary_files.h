// Binary files beside the line-oriented streams: a whole regular file read
// with a size cap, zlib packing and unpacking of byte strings, and the few
// folder operations the replay store needs (create, list).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace media {

// Reads a whole regular file of at most maxBytes into out. False with a short
// reason in error when it is missing, not a regular file (a folder, a FIFO, a
// device), larger than the cap or unreadable; never blocks on a FIFO.
bool ReadBinaryFile(const std::string& path, size_t maxBytes, std::string& out, std::string& error);
// Returns bytes packed with zlib at the given level (0..9); empty on failure.
std::string PackBytes(std::string_view bytes, int level = 9);
// Unpacks zlib data that must come to exactly expectedSize bytes; false when
// the data is damaged or its size differs.
bool UnpackBytes(std::string_view packed, size_t expectedSize, std::string& out);
// Returns the CRC-32 (as zlib computes it) of bytes.
uint32_t Crc32(std::string_view bytes);
// Creates a folder and any missing parents (mode 0755); true when it exists afterwards.
bool MakeFolders(const std::string& path);
// Returns the names of the regular files in a folder (no "." entries); empty when it cannot be
// read.
std::vector<std::string> ListFiles(const std::string& folder);

}  // namespace media
