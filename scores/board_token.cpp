// The board token's form, shared by the game's sharing and the board server.
#include "scores/board_token.h"

namespace scores {

bool IsBoardToken(std::string_view token) {
    if (token.size() < kMinTokenChars || token.size() > kMaxTokenChars) return false;
    for (char c : token) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace scores
