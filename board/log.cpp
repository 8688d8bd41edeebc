// The board server's log on standard error, and the escaping of foreign text.
#include "board/log.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

namespace board {

namespace {

std::atomic<bool> g_quiet{false};

// Returns the length (2 to 4) of the well-formed UTF-8 sequence of a printing
// character at the start of text, or 0 (a stray byte, an overlong form, a
// surrogate, a C1 control or a line or paragraph separator).
size_t PrintingUtf8Length(std::string_view text) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
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
    if (code <= 0x9F) return 0;                      // C1 controls
    if (code == 0x2028 || code == 0x2029) return 0;  // line and paragraph separators
    return length;
}

}  // namespace

void Log(const std::string& line) {
    if (g_quiet.load(std::memory_order_relaxed)) return;
    // One write per line keeps lines from several threads whole.
    const std::string text = "zarquill-board: " + EscapeText(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void SetLogQuiet(bool quiet) {
    g_quiet.store(quiet, std::memory_order_relaxed);
}

std::string EscapeText(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<uint8_t>(text[i]);
        if (c == '\\') {
            out += "\\\\";
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
            ++i;
        } else if (const size_t n = c >= 0x80 ? PrintingUtf8Length(text.substr(i)) : 0; n > 0) {
            out.append(text.substr(i, n));
            i += n;
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
            ++i;
        }
    }
    return out;
}

}  // namespace board
