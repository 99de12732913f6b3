#pragma once

#include "compute/loop/rules.h"

#include <cstdint>
#include <vector>

namespace quadrilo {

// `count` pass points base, base + stride, ... , all exact: within one
// binade the counter moves by the same number of ulps at every step.
struct Segment {
    std::uint64_t firstPass = 0;
    double base = 0.0;
    double stride = 0.0;
    std::uint64_t count = 0;

    double point(std::uint64_t pass) const
    {
        return base + static_cast<double>(pass - firstPass) * stride;
    }
};

struct PassPlan {
    std::uint64_t passes = 0;
    double lastCounter = 0.0; // after the last pass's increment; 0 when none
    std::vector<Segment> segments;
};

// The pass points of the counted loop "theta from 0 to end, step kStep, end
// inclusive", with the counter advanced by repeated addition, found without
// running the loop: a few dozen segments, whatever the end. `end` must be
// below kLimitBound (NaN or negative: no pass).
PassPlan planPasses(double end);

} // namespace quadrilo
