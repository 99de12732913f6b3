#pragma once

// The calculator's rules, which every result's bits depend on.
namespace quadrilo {

// The rectangles' width: the loop's counter moves by this much a pass.
inline constexpr double kStep = 0.000001;

// The value used for pi, seven decimals, in the degree factor and in the
// upper limit of the second kind.
inline constexpr double kPi = 3.1415927;

// Degrees to radians, as fl(kPi / 180); an argument a becomes fl(factor a).
inline constexpr double kDegreeFactor = kPi / 180;

// The second kind's argument, in degrees, and the limit it runs to.
inline constexpr double kSecondKindDegrees = 5;
inline constexpr double kSecondKindEnd = kPi / 2;

// The two integrals: the first kind sums h / r, the second h r, with
// r = sqrt(1 - m sin^2 theta).
enum class Kind { First, Second };

// From 2^34 on, adding kStep no longer moves the counter: limits from here
// on are refused.
inline constexpr double kLimitBound = 17179869184.0;

} // namespace quadrilo
