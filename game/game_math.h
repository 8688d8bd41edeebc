// Degree-based trigonometry and the truncating conversion the game's rules
// are written in (headings: 0 up, 90 right; atan2(u, v) is the arc tangent
// of u over v).
#pragma once

#include "engine/media/text.h"

namespace game {

// Trigonometry in degrees comes from the media layer, as everywhere else.
using media::ATan2;
using media::Cos;
using media::Sin;

// Returns a real truncated toward zero.
inline int Trunc(double v) {
    return media::TruncToInt(v);
}

}  // namespace game
