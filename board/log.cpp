// The board server's log on standard error, and the escaping of foreign text.
#include "board/log.h"

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "engine/media/text.h"

namespace board {

namespace {

std::atomic<bool> g_quiet{false};

// Returns the length (2 to 4) of the well-formed UTF-8 sequence of a printing
// character at the start of text, or 0 (a stray byte, an overlong form, a
// surrogate, a C1 control or a line or paragraph separator).
size_t PrintingUtf8Length(std::string_view text) {
    uint32_t code = 0;
    const size_t length = media::Utf8SequenceLength(text, code);
    if (length < 2) return 0;                        // ASCII is judged by the caller
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
