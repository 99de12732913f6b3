#include "compute/loop/passes.h"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace quadrilo {

// Within one binade [2^k, 2^(k+1)) every counter value is a multiple of the
// binade's ulp, and theta + h rounds to theta + d with the same d all the way
// through, as long as the exact sum stays below the binade's top and h / ulp
// is no tie. h = 0.000001 has an odd significand, so h / ulp is a tie only
// below 2^-18; those first few passes, and every step that leaves a binade,
// are real additions.
PassPlan planPasses(double end)
{
    PassPlan plan;
    if (!(end >= 0.0))
        return plan;
    assert(end < kLimitBound);

    double theta = 0.0;
    while (theta <= end) {
        double next = theta + kStep;
        Segment segment{plan.passes, theta, 0.0, 1};
        if (theta >= 0x1p-17) {
            int exponent = 0;
            std::frexp(theta, &exponent);
            const double top = std::ldexp(1.0, exponent);
            const double ulp = std::ldexp(1.0, exponent - 53);
            if (next < top) {
                const double limit = std::min(end, std::nextafter(top, 0.0));
                const auto span = static_cast<std::uint64_t>((limit - theta) / ulp);
                const auto stride = static_cast<std::uint64_t>((next - theta) / ulp);
                segment.stride = next - theta;
                segment.count = span / stride + 1;
                theta = segment.point(plan.passes + segment.count - 1);
                next = theta + kStep;
            }
        }
        plan.segments.push_back(segment);
        plan.passes += segment.count;
        theta = next;
    }
    plan.lastCounter = theta;
    return plan;
}

} // namespace quadrilo
