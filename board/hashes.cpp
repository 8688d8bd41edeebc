// Token and replay hashes and random keys, from OpenSSL's libcrypto.
#include "board/hashes.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <vector>

namespace board {

namespace {

// Returns bytes as lower-case hex.
std::string Hex(const unsigned char* bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

}  // namespace

std::string TokenHash(std::string_view key, std::string_view token) {
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLen = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(token.data()), token.size(), mac,
             &macLen) == nullptr) {
        return "";
    }
    return Hex(mac, macLen);
}

bool SameHash(std::string_view a, std::string_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string Sha256Hex(std::string_view bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return Hex(digest, sizeof digest);
}

std::string RandomHex(size_t n) {
    std::vector<unsigned char> bytes(n);
    if (RAND_bytes(bytes.data(), static_cast<int>(n)) != 1) return "";
    return Hex(bytes.data(), n);
}

}  // namespace board
