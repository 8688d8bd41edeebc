// Name rules, case folding and the bearer token's form.
#include "board/names.h"

#include "board/limits.h"
#include "scores/board_token.h"

namespace board {

namespace {

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

}  // namespace board
