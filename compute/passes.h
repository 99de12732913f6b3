#pragma once

#include <cstdint>

namespace quadrilo {

inline constexpr double kStep = 0.000001;

// From 2^34 on, adding kStep no longer moves the counter.
inline constexpr double kLimitBound = 17179869184.0;

struct PassPlan {
    std::uint64_t passes = 0;
    double lastCounter = 0.0; // after the last pass's increment; 0 when none
};

// The passes of the counted loop "theta from 0 to end, step kStep, end
// inclusive", with the counter advanced by repeated addition, found without
// running the loop. `end` must be below kLimitBound (NaN or negative: none).
PassPlan planPasses(double end);

} // namespace quadrilo
