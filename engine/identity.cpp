// Identity values and the derived scrambling key (built at run time from the
// series text, the game's name and the week number; never stored).
#include "engine/identity.h"

#include "engine/media/text.h"

namespace engine {

std::string GameTitle() {
    return "#" + media::Str(WeekNumber) + " : " + SeriesName + " " + SeriesGen;
}

std::string GameFolder() {
    return media::Right("000" + media::Str(WeekNumber), 3) + "/";
}

std::string DerivedKey() {
    const std::string s = std::string(SeriesName) + " " + SeriesGen;
    const std::string g = GameName;
    const int w = WeekNumber;
    const int ls = static_cast<int>(s.size());
    const int lg = static_cast<int>(g.size());
    const int total = ls + lg;
    std::string key;
    key.reserve(static_cast<size_t>(2 * total));
    for (int k = 1; k <= total; ++k) {
        int a = media::CharCode(s[static_cast<size_t>(k % ls)]);
        a = (a + w + 7 * k) % 76 + 32;
        a = (a + w + 5 * k) % 75 + 31;
        key.push_back(static_cast<char>(a));
        int b = media::CharCode(g[static_cast<size_t>(k % lg)]);
        b = (b + w + 3 * k) % 74 + 34;
        b = (b + w + 11 * k) % 71 + 36;
        key.push_back(static_cast<char>(b));
    }
    return key;
}

}  // namespace engine
