// The pass count and the last counter of the pass plan equal the loop run by
// repeated addition, for upper limits up to 0.1 (100,000 passes).
#include "compute/passes.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 8)
        return 0;
    double end = 0.0;
    std::memcpy(&end, data, sizeof end);
    if (std::isnan(end))
        return 0;
    end = std::fmod(std::abs(end), 0.1) * (data[0] & 1 ? -1 : 1);

    std::uint64_t passes = 0;
    double counter = 0.0;
    for (double theta = 0.0; theta <= end;) {
        theta += quadrilo::kStep;
        ++passes;
        counter = theta;
    }
    const quadrilo::PassPlan plan = quadrilo::planPasses(end);
    std::uint64_t inSegments = 0;
    for (const quadrilo::Segment& s : plan.segments)
        inSegments += s.count;
    if (plan.passes != passes || plan.lastCounter != counter || inSegments != passes)
        std::abort();
    return 0;
}
