#pragma once

#include <cstdint>
#include <memory>

namespace quadrilo {

// The multiple-precision numbers and constants that correctSin and
// sinCosOfMultiple work in. A thread that calls them often keeps one alive
// for as long as it does; without one, each call makes and frees its own.
// Throws std::bad_alloc when memory is short, as the functions below do.
class SineScratch {
public:
    SineScratch();
    ~SineScratch();
    SineScratch(const SineScratch&) = delete;
    SineScratch& operator=(const SineScratch&) = delete;

    struct Numbers;
    Numbers& numbers() { return *numbers_; }

private:
    std::unique_ptr<Numbers> numbers_;
    SineScratch* outer_;
};

// sin(x) correctly rounded to the nearest double. Being the one exact
// rounding of the true sine, it is the same on every machine, however it is
// computed. Safe to call from any thread; throws std::bad_alloc when memory is
// short.
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
// sines from one pass point to the next; k below 2^53.
void sinCosOfMultiple(double x, std::uint64_t k, DoubleDouble& sine, DoubleDouble& cosine);

// a b, with its rounding error carried in the low part (less the low
// parts' product, under 2^-106 of it), not renormalised.
DoubleDouble times(const DoubleDouble& a, const DoubleDouble& b);

// a + b, the high parts' two-sum carrying the low parts, renormalised.
DoubleDouble plus(const DoubleDouble& a, const DoubleDouble& b);

// (sine, cosine) of an angle a turned by the angle b whose sine and cosine
// are (S, C): (s C + c S, c C - s S) in double-double arithmetic, each
// product with its error term from a fused multiply-add and the sums
// renormalised. For unit magnitudes each result is off by under 2^-102 more
// than its inputs were: turning is an isometry, so n turns add up to n times
// that, never more.
void turn(DoubleDouble& sine, DoubleDouble& cosine, const DoubleDouble& S, const DoubleDouble& C);

} // namespace quadrilo
