// The scrambler: pass 1 rotates the text by its checksum and appends the
// checksum as six digits; the result is XORed with the key; pass 2 repeats the
// rotation and checksum; the final XOR is written as hexadecimal pairs.
// Unscrambling undoes each step and rejects the text when a checksum differs.
#include "scores/scrambler.h"

#include "engine/identity.h"
#include "engine/media/text.h"

namespace scores {

namespace {

// Characters of the six-digit checksum field.
constexpr int kCheckDigits = 6;

const std::string& DefaultKey() {
    static const std::string key = engine::DerivedKey();
    return key;
}

std::string_view KeyOrDefault(std::string_view key) {
    return key.empty() ? std::string_view(DefaultKey()) : key;
}

// Returns the key code for 1-based text position i: the key's second character
// comes first and its first character serves every len(key)-th position.
int KeyCode(std::string_view key, size_t i) {
    return media::CharCode(key[i % key.size()]);
}

// Returns text rotated left by r (0 <= r < length).
std::string RotateLeft(std::string_view text, size_t r) {
    std::string out;
    out.reserve(text.size());
    out.append(text.substr(r));
    out.append(text.substr(0, r));
    return out;
}

std::string SixDigits(int value) {
    return media::Right("000000" + media::Str(value), kCheckDigits);
}

// Appends text rotated left by its checksum and the checksum's six digits.
std::string RotatePass(std::string_view text) {
    int check = TextChecksum(text);
    std::string out =
        text.empty() ? std::string() : RotateLeft(text, static_cast<size_t>(check) % text.size());
    out += SixDigits(check);
    return out;
}

// Undoes RotatePass in place; false when too short or the checksum differs.
bool UndoRotatePass(std::string& y) {
    // The check field plus at least one character of text.
    if (y.size() < kCheckDigits + 1) return false;
    const int q = media::ToInt(media::Right(y, kCheckDigits));
    y.resize(y.size() - kCheckDigits);
    const int64_t len = static_cast<int64_t>(y.size());
    const int64_t r = q % len;
    std::string out(y.size(), '\0');
    for (int64_t i = 0; i < len; ++i) {
        int64_t j = (i - r) % len;
        if (j < 0) j += len;
        out[static_cast<size_t>(i)] = y[static_cast<size_t>(j)];
    }
    if (TextChecksum(out) != q) return false;
    y.swap(out);
    return true;
}

void XorWithKey(std::string& text, std::string_view key) {
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>((media::CharCode(text[i]) ^ KeyCode(key, i + 1)) & 0xFF);
    }
}

}  // namespace

int TextChecksum(std::string_view text) {
    int sum = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        // Reduce the position first so that the product stays small however
        // long the text is; the sum mod 4096 is unchanged.
        int weight = static_cast<int>((3 * ((i + 1) % 4096)) % 4096);
        sum = (sum + media::CharCode(text[i]) * weight) % 4096;
    }
    return sum;
}

int HexPairValue(std::string_view pair) {
    int value = 0;
    for (char ch : pair) {
        int c = media::CharCode(ch);
        int digit = 0;
        if (c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else if (c >= '0' && c <= '9') {
            digit = c - '0';
        }
        value = value * 16 + digit;
    }
    return value;
}

std::string Scramble(std::string_view text, std::string_view key_in) {
    const std::string_view key = KeyOrDefault(key_in);
    std::string x = RotatePass(text);
    XorWithKey(x, key);
    std::string s2 = RotatePass(x);
    static const char kHexDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s2.size() * 2);
    for (size_t i = 0; i < s2.size(); ++i) {
        int v = (media::CharCode(s2[i]) ^ KeyCode(key, i + 1)) & 0xFF;
        out.push_back(kHexDigits[v >> 4]);
        out.push_back(kHexDigits[v & 15]);
    }
    return out;
}

std::string Unscramble(std::string_view text, std::string_view key_in) {
    const std::string_view key = KeyOrDefault(key_in);
    std::string y;
    y.reserve(text.size() / 2);
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        int v = HexPairValue(text.substr(i, 2)) ^ KeyCode(key, i / 2 + 1);
        y.push_back(static_cast<char>(v & 0xFF));
    }
    if (!UndoRotatePass(y)) return std::string(kRejected);
    XorWithKey(y, key);
    if (!UndoRotatePass(y)) return std::string(kRejected);
    return y;
}

}  // namespace scores
