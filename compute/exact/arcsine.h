// asin(e) / pi in double-double, with a proven bound on its error, some
// fifty times faster than MPFR's arcsine to as many bits.
//
// Method. a1 = asin(e) from the C library, a guess only. Its sine and
// cosine in double-double: the table's sin and cos of i / 128, the nearest
// i (MPFR, each part rounded: within 2^-106), turned (sine.h, 2^-102) by
// r = a1 - i/128, exact (|r| <= 2^-8, Sterbenz), whose sine and cosine are
// Horner sums of their series to r^9 and r^10 in double-double (truncated
// under 2^-113, a dozen roundings of 2^-104 at most on values up to 1).
// Each is within eps_t = 2^-96 of the real one, with a factor eight to
// spare. A double-double angle hi + lo is turned once more by (lo, 1 -
// lo^2 / 2). Newton steps, a <- a + (e - sin a) / cos a, from a1, up to
// four, until the last step's square is below 2^-100 cos a, leave a within
// about 2^-96 / cos a of asin e.
//
// Proof. Nothing above is trusted: with w = 2^-90 / cos a1, the sine of
// a - w is checked to lie below e and that of a + w above it, each by more
// than 2 eps_t in double-double, and sin rises on [0, pi/2], so asin e lies
// strictly between a - w and a + w (a + w past pi/2 bounds it anyway). The
// quotient by pi, a double-double product with 1/pi (within 2^-106 each),
// adds 2^-102 a. So the value is within w / pi + 2^-101 of asin(e) / pi.
//
// The caller gives 0 < e < 1 exactly as a double-double. Where a cosine is
// below 2^-20, the steps do not settle, or the check fails, there is no
// answer.
#pragma once

#include "compute/exact/sine.h"

#include <array>
#include <optional>

namespace quadrilo {

struct Bracketed {
    DoubleDouble value;
    double error = 0.0; // |value - the real one| is below it
};

class ArcsineOverPi {
public:
    ArcsineOverPi(); // the table, from MPFR: about a millisecond
    std::optional<Bracketed> operator()(const DoubleDouble& e) const;

private:
    struct SinCos {
        DoubleDouble sine, cosine;
    };
    SinCos of(double x) const;
    SinCos of(const DoubleDouble& x) const;

    static constexpr int kSteps = 128; // a radian
    std::array<SinCos, 203> table_;    // i / 128 up to past pi / 2
    std::array<DoubleDouble, 11> inverseFactorial_; // 1 / k!
    DoubleDouble inversePi_;
};

} // namespace quadrilo
