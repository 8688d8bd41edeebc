// Name rules, case folding and the token hashes (OpenSSL's libcrypto).
#include "board/names.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <vector>

#include "board/limits.h"
#include "scores/board_token.h"

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

// Returns the lower-case form of an ISO 8859-1 character (×, ß, ÷ and ÿ have none other).
unsigned char FoldLatin1(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 32);
    return c;
}

}  // namespace

bool IsTypableName(std::string_view latin1) {
    if (latin1.empty() || latin1.size() > kMaxNameBytes) return false;
    for (unsigned char c : latin1) {
        // The game stores "|" as the broken bar and refuses control characters.
        if (c < 32 || c == '|' || (c >= 127 && c <= 159)) return false;
    }
    return true;
}

std::string NameToUtf8(std::string_view latin1) {
    std::string out;
    out.reserve(latin1.size() * 2);
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool NameFromUtf8(std::string_view utf8, std::string& latin1) {
    latin1.clear();
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            latin1 += static_cast<char>(c);
            continue;
        }
        // Only the two-byte forms of 128..255 fit ISO 8859-1 (C2 and C3 lead bytes).
        if ((c != 0xC2 && c != 0xC3) || i + 1 >= utf8.size()) return false;
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if ((next & 0xC0) != 0x80) return false;
        latin1 += static_cast<char>(((c & 0x03) << 6) | (next & 0x3F));
        ++i;
    }
    return IsTypableName(latin1);
}

std::string NameKey(std::string_view latin1) {
    std::string folded(latin1);
    for (char& c : folded) c = static_cast<char>(FoldLatin1(static_cast<unsigned char>(c)));
    return NameToUtf8(folded);
}

std::string BearerToken(std::string_view authorization) {
    constexpr std::string_view kScheme = "bearer ";
    if (authorization.size() <= kScheme.size()) return "";
    for (size_t i = 0; i < kScheme.size(); ++i) {
        char c = authorization[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != kScheme[i]) return "";
    }
    std::string_view token = authorization.substr(kScheme.size());
    while (!token.empty() && token.front() == ' ') token.remove_prefix(1);
    while (!token.empty() && token.back() == ' ') token.remove_suffix(1);
    return scores::IsBoardToken(token) ? std::string(token) : "";
}

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
