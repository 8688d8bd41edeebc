// Degree-based trigonometry and the truncating conversion the game's rules
// are written in (headings: 0 up, 90 right; atan2(u, v) is the arc tangent
// of u over v), and the rules versions that say which arithmetic they use.
#pragma once

#include <cstdint>

#include "engine/media/text.h"
#include "engine/media/trig.h"

namespace game {

// Rules versions. A game is played, recorded and re-simulated under one of them, and a replay
// names its own; an old version stays for as long as a stored run may need it.
// 1: sines, cosines and arc tangents from the platform's math library (runs recorded on another
//    C library or processor may not reproduce); 2: the media core's own arithmetic, the same
//    bits on every machine.
inline constexpr uint32_t kOldestRules = 1;
inline constexpr uint32_t kNewestRules = 2;  // what new games are played under
// The oldest rules version whose results are the same on every platform. Older ones are checked
// only where the game's replays were recorded (Debian on x86-64): the WebAssembly build gives
// other check values for them, so it does not play them.
inline constexpr uint32_t kOldestPortableRules = 2;

// Trigonometry in degrees comes from the media layer, as everywhere else.
using media::ATan2;
using media::Cos;
using media::Sin;

// Returns true when this program knows a rules version.
inline bool KnownRules(uint32_t rules) {
    return rules >= kOldestRules && rules <= kNewestRules;
}

// Makes the game's arithmetic that of a known rules version.
inline void UseRules(uint32_t rules) {
    media::UseTrigArithmetic(rules == 1 ? media::TrigArithmetic::kPlatform
                                        : media::TrigArithmetic::kOwn);
}

// Returns the rules version the game's arithmetic follows now.
inline uint32_t RulesInForce() {
    return media::TrigArithmeticInForce() == media::TrigArithmetic::kPlatform ? 1 : 2;
}

// Returns a real truncated toward zero.
inline int Trunc(double v) {
    return media::TruncToInt(v);
}

}  // namespace game
