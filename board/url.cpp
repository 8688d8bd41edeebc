// Percent-decoding of paths and query parameters.
#include "board/url.h"

namespace board {

bool PercentDecode(const std::string& in, std::string& out, bool plusIsSpace) {
    out.clear();
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '%') {
            if (i + 2 >= in.size()) return false;
            const int hi = hex(in[i + 1]);
            const int lo = hex(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else if (in[i] == '+' && plusIsSpace) {
            out += ' ';
        } else {
            out += in[i];
        }
    }
    return true;
}

}  // namespace board
