#pragma once

#include "compute/kernels.h"
#include "compute/passes.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace quadrilo {

// The value used for pi, seven decimals, in the degree factor and in the
// upper limit of the second kind.
inline constexpr double kPi = 3.1415927;
inline constexpr double kSecondKindEnd = kPi / 2;

struct Evaluation {
    double sum = 0.0;
    std::uint64_t passes = 0;
    double lastCounter = 0.0; // 0 when no pass ran
};

// Called, from one of the evaluating threads at a time, each time a further
// block of passes is summed, with the passes summed so far (of
// planPasses(end).passes). Returning false stops the evaluation.
using ProgressFn = std::function<bool(std::uint64_t passesDone)>;

// Throws InputRefused for an upper limit where the loop would never end: not
// finite, or from kLimitBound on.
void checkUpperLimit(double phi);

// Incomplete integral of the first kind, F(phi, alpha) with alpha in degrees.
// Throws InputRefused for a phi that is not finite or not below kLimitBound,
// RuntimeError(DivisionByZero) when an integrand's root is 0.
// Returns nothing when `progress` asked to stop.
std::optional<Evaluation> firstKind(double phi, double degrees, const ProgressFn& progress = {},
                                    Isa isa = bestIsa());

// Complete integral of the second kind at 5 degrees, up to kPi / 2.
std::optional<Evaluation> secondKind(const ProgressFn& progress = {}, Isa isa = bestIsa());

} // namespace quadrilo
