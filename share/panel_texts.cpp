// The panel's and the notices' texts of a run's standing with the board.
#include "share/panel_texts.h"

#include <cstdint>

namespace scores {

namespace {

// Returns the capitalised difficulty for the panel ("Hard").
std::string DifficultyText(const std::string& difficulty) {
    if (difficulty.empty()) return "the board";
    std::string text = difficulty;
    if (text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

}  // namespace

std::string BoardStateText(const BoardRun& run) {
    switch (run.state) {
        case BoardState::kQueued:
            return "Board: not sent yet";
        case BoardState::kPending:
            // The game's fonts hold ISO 8859-1 only, which has no ellipsis character.
            return "Board: checking...";
        case BoardState::kVerified:
            if (run.rank > 0) {
                return "Board: rank " + std::to_string(run.rank) + " on " +
                       DifficultyText(run.difficulty);
            }
            return "Board: verified on " + DifficultyText(run.difficulty);
        case BoardState::kRejected:
        case BoardState::kRefused:
            return "Board: refused (" + Utf8ToLatin1(run.reason) + ")";
    }
    return "";
}

std::string OutcomeNotice(const BoardRun& run) {
    const std::string name = Utf8ToLatin1(run.name);
    return (name.empty() ? std::string() : name + " - ") + BoardStateText(run);
}

std::string Utf8ToLatin1(std::string_view utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= utf8.size()) {
            out += '?';
            ++i;
            continue;
        }
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        bool ok = true;
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(utf8[i + static_cast<size_t>(k)]);
            if ((cc & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out += cp < 256 ? static_cast<char>(cp) : '?';
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

}  // namespace scores
