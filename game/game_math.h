// Degree-based trigonometry and the truncating conversion the game's rules
// are written in (headings: 0 up, 90 right; atan2(u, v) is the arc tangent
// of u over v). Depends on the media layer's text helpers.
#pragma once

#include <cmath>

#include "engine/media/text.h"

namespace game {

inline constexpr double kDegrees = 3.14159265358979323846 / 180.0;

// Returns the sine of an angle in degrees.
inline double SinD(double degrees) {
    return std::sin(degrees * kDegrees);
}
// Returns the cosine of an angle in degrees.
inline double CosD(double degrees) {
    return std::cos(degrees * kDegrees);
}
// Returns the arc tangent of u over v in degrees, -180..180.
inline double ATan2D(double u, double v) {
    return std::atan2(u, v) / kDegrees;
}
// Returns a real truncated toward zero.
inline int Trunc(double v) {
    return media::TruncToInt(v);
}

}  // namespace game
