#pragma once

#include "compute/passes.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace quadrilo {

// The value used for pi, seven decimals, in the degree factor and in the
// upper limit of the second kind.
inline constexpr double kPi = 3.1415927;

struct Evaluation {
    double sum = 0.0;
    std::uint64_t passes = 0;
    double lastCounter = 0.0;
};

// Called from the evaluating thread every few tens of thousands of passes with
// the passes done so far; returning false stops the evaluation.
using ProgressFn = std::function<bool(std::uint64_t passesDone)>;

// Incomplete integral of the first kind, F(phi, alpha) with alpha in degrees.
// Throws InputRefused for a phi that is not finite or not below kLimitBound,
// RuntimeError(DivisionByZero) when an integrand's root is 0.
// Returns nothing when `progress` asked to stop.
std::optional<Evaluation> firstKind(double phi, double degrees, const ProgressFn& progress = {});

// Complete integral of the second kind at 5 degrees, up to kPi / 2.
std::optional<Evaluation> secondKind(const ProgressFn& progress = {});

// The upper limit of the second kind.
inline constexpr double kSecondKindEnd = kPi / 2;

} // namespace quadrilo
