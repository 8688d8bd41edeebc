// Text and number helpers: conversions and string operations over the
// program's one-byte-per-character text.
#include "engine/media/text.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace media {

namespace {

bool IsSpace(char c) {
    return CharCode(c) < 33;
}

// Reads digits in the given base starting at text[i]; returns the wrapped value.
uint64_t ReadDigits(std::string_view text, size_t i, int base) {
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        int c = CharCode(text[i]);
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            break;
        }
        if (d >= base) break;
        v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    return v;
}

uint64_t ParseInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < text.size() && text[i] == '%') {
        base = 2;
        ++i;
    }
    uint64_t v = ReadDigits(text, i, base);
    return negative ? (~v + 1) : v;
}

// Returns true when text is well-formed UTF-8 (no overlong forms, surrogates
// or code points above U+10FFFF).
bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        uint32_t code = 0;
        const size_t length = Utf8SequenceLength(text.substr(i), code);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, uint32_t& code) {
    if (text.empty()) return 0;
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    static constexpr uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kShortest[length] || code > 0x10FFFF) return 0;
    if (code >= 0xD800 && code <= 0xDFFF) return 0;  // surrogates
    return length;
}

int TruncToInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

int64_t TruncToInt64(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
    if (v <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(v);
}

int ToInt(std::string_view text) {
    return static_cast<int>(static_cast<uint32_t>(ParseInteger(text)));
}

int64_t ToLong(std::string_view text) {
    return static_cast<int64_t>(ParseInteger(text));
}

bool AllDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

std::string Str(int64_t value) {
    return std::to_string(value);
}

std::string Left(std::string_view text, int n) {
    if (n <= 0) return {};
    return std::string(text.substr(0, static_cast<size_t>(n)));
}

std::string Right(std::string_view text, int n) {
    if (n <= 0) return {};
    size_t k = static_cast<size_t>(n);
    if (k >= text.size()) return std::string(text);
    return std::string(text.substr(text.size() - k));
}

std::string Mid(std::string_view text, int start, int count) {
    int len = static_cast<int>(text.size());
    bool toEnd = count < 0;
    if (start < 1) {
        if (!toEnd) count += start - 1;
        start = 1;
    }
    if (toEnd) count = len;
    if (start > len || count <= 0) return {};
    size_t from = static_cast<size_t>(start - 1);
    return std::string(text.substr(from, static_cast<size_t>(count)));
}

int Instr(std::string_view text, std::string_view sub, int start) {
    if (start < 1) start = 1;
    size_t from = static_cast<size_t>(start - 1);
    if (from > text.size()) return 0;
    size_t p = text.find(sub, from);
    return p == std::string_view::npos ? 0 : static_cast<int>(p) + 1;
}

std::string Replace(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    size_t i = 0;
    while (true) {
        size_t p = text.find(from, i);
        if (p == std::string_view::npos) break;
        out.append(text.substr(i, p - i));
        out.append(to);
        i = p + from.size();
    }
    out.append(text.substr(i));
    return out;
}

std::string Trim(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsSpace(text[b])) ++b;
    while (e > b && IsSpace(text[e - 1])) --e;
    return std::string(text.substr(b, e - b));
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        int c = CharCode(ch);
        // Latin-1 lower-case letters 224..254 except the division sign 247.
        if ((c >= 'a' && c <= 'z') || (c >= 224 && c <= 254 && c != 247)) {
            ch = static_cast<char>(c - 32);
        }
    }
    return out;
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out) {
        int c = CharCode(ch);
        // Latin-1 upper-case letters 192..222 except the multiplication sign 215.
        if ((c >= 'A' && c <= 'Z') || (c >= 192 && c <= 222 && c != 215)) {
            ch = static_cast<char>(c + 32);
        }
    }
    return out;
}

std::string Chr(int code) {
    return std::string(1, static_cast<char>(code & 0xFF));
}

int Asc(std::string_view text) {
    return text.empty() ? -1 : CharCode(text[0]);
}

std::string Hex(int64_t value) {
    static const char kDigits[] = "0123456789ABCDEF";
    uint32_t v = static_cast<uint32_t>(value);
    std::string out(8, '0');
    for (int i = 7; i >= 0; --i) {
        out[static_cast<size_t>(i)] = kDigits[v & 15];
        v >>= 4;
    }
    return out;
}

std::string ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        int c = CharCode(ch);
        if (c < 128) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

void AppendJsonString(std::string& out, std::string_view text, JsonBytes bytes) {
    static const char kHexDigits[] = "0123456789abcdef";
    const bool asIs = bytes == JsonBytes::kPath && IsUtf8(text);
    out.push_back('"');
    for (char ch : text) {
        const int c = CharCode(ch);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    out += "\\u00";
                    out.push_back(kHexDigits[c >> 4]);
                    out.push_back(kHexDigits[c & 15]);
                } else if (c < 0x80 || asIs) {
                    out.push_back(ch);
                } else {
                    // Codes 128..255 are the Unicode code points of the same number.
                    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
                }
        }
    }
    out.push_back('"');
}

}  // namespace media
