// The program's one random number generator: the minimal-standard
// multiplicative generator (multiplier 48271, modulus 2^31 - 1). The game's waves and terrain and
// the pause screen rely on its exact sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace media {

// Returns the generator's state (1 .. 2^31 - 2).
int32_t RandomState();
// Returns a real in [0, 1) made from two steps of the generator.
double RandomUnit();
// Returns an integer between a and b inclusive, in either order of the bounds.
int RandomInt(int a, int b);
// Returns a real between a and b, in either order of the bounds.
double RandomReal(double a, double b);
// Advances the generator past count draws of RandomUnit (as count calls of
// RandomInt or RandomReal would) in one jump, without making the values.
void SkipRandomDraws(int count);
// Seeds the generator; 0 and 2^31 - 1 (after masking to 31 bits) give 4660.
void SeedRandom(int64_t seed);

// Fills out with n bytes from the system's random source (on Linux
// getrandom, else "/dev/urandom"; in the browser crypto.getRandomValues), for
// secrets; never touches the game's generator. Returns false when the source
// could not give them all.
bool SystemRandomBytes(void* out, size_t n);

}  // namespace media
