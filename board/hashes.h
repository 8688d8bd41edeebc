// The server's hashes and random keys (OpenSSL's libcrypto): token hashes,
// replay hashes and the comparison that does not leak where two hashes differ.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace board {

// Returns the keyed hash (HMAC-SHA256, hex) of a token under the server's key.
std::string TokenHash(std::string_view key, std::string_view token);
// Returns true when two hashes are equal, comparing in constant time.
bool SameHash(std::string_view a, std::string_view b);
// Returns the SHA-256 of bytes as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);
// Returns n random bytes from the system's generator as hex ("" on failure).
std::string RandomHex(size_t n);

}  // namespace board
