// Trigonometry in degrees, as the game's rules use it. Two arithmetics stand
// behind Sin, Cos and ATan2: the platform's math library (whose last bit
// differs between C libraries and processors) and the program's own, written
// in plain IEEE double operations (+ - * /, fabs, fmod, floor) so that every
// machine gives the same bits. One switch chooses between them; the own
// arithmetic is in force unless something says otherwise.
#pragma once

namespace media {

// Which arithmetic Sin, Cos and ATan2 use.
enum class TrigArithmetic {
    kPlatform,  // the math library's sin, cos and atan2 of the angle in radians
    kOwn,       // OwnSin, OwnCos and OwnATan2: the same bits everywhere
};

// Returns the sine of an angle in degrees, in the arithmetic in force.
double Sin(double degrees);
// Returns the cosine of an angle in degrees, in the arithmetic in force.
double Cos(double degrees);
// Returns the angle in degrees, -180..180, whose tangent is y over x, in the arithmetic in force.
double ATan2(double y, double x);

// Returns the sine of an angle in degrees (within one unit in the last place; exact at whole
// and quarter turns, a zero there taking the angle's sign; NaN for an infinite or NaN angle).
double OwnSin(double degrees);
// Returns the cosine of an angle in degrees (within one unit in the last place; exact at whole
// and quarter turns, +0 at the quarter turns; NaN for an infinite or NaN angle).
double OwnCos(double degrees);
// Returns the angle in degrees, -180..180, whose tangent is y over x (the quadrant from the
// signs of both, as the math library's atan2 takes it).
double OwnATan2(double y, double x);

// Makes Sin, Cos and ATan2 use an arithmetic from now on.
void UseTrigArithmetic(TrigArithmetic arithmetic);
// Returns the arithmetic Sin, Cos and ATan2 use.
TrigArithmetic TrigArithmeticInForce();

}  // namespace media
