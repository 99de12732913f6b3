#pragma once

#include "compute/loop/passes.h"
#include "compute/loop/rules.h"

namespace quadrilo {

// One evaluation, its input converted, checked and planned.
struct Request {
    PassPlan plan;
    double m = 0.0;          // the squared sine of the argument
    Kind kind = Kind::First;
    double upperLimit = 0.0; // the limit the passes run to, radians
};

// Throws InputRefused for an upper limit where the loop would never end: not
// finite, or from kLimitBound on.
Request firstKindRequest(double phi, double degrees);
Request secondKindRequest();

} // namespace quadrilo
