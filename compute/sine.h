#pragma once

namespace quadrilo {

// sin(x) correctly rounded to the nearest double. Being the one exact
// rounding of the true sine, it is the same on every machine, however it is
// computed. Safe to call from any thread.
double correctSin(double x);

// fl(correctSin(x)^2): the squared sine of the argument, formed once per
// evaluation.
double squaredSine(double x);

// A double-double: hi + lo with |lo| <= ulp(hi) / 2.
struct DoubleDouble {
    double hi = 0.0;
    double lo = 0.0;
};

// sin(k x) and cos(k x) to about 2^-106, for the rotations that step the
// sines from one pass point to the next.
void sinCosOfMultiple(double x, unsigned k, DoubleDouble& sine, DoubleDouble& cosine);

// (sine, cosine) of an angle a turned by the angle b whose sine and cosine
// are (S, C): (s C + c S, c C - s S) in double-double arithmetic, each
// product with its error term from a fused multiply-add and the sums
// renormalised. For unit magnitudes each result is off by under 2^-102 more
// than its inputs were: turning is an isometry, so n turns add up to n times
// that, never more.
void turn(DoubleDouble& sine, DoubleDouble& cosine, const DoubleDouble& S, const DoubleDouble& C);

} // namespace quadrilo
