#pragma once

#include "compute/engine.h"

namespace quadrilo {

// The rectangle sums as one plain loop: the readable definition of every
// result. The fast engine must give the same bits; the tests hold it to that.
Evaluation firstKindReference(double phi, double degrees);
Evaluation secondKindReference();

// One pass's term: fl(fl(1 / r) * h) (first kind) or fl(r * h), with
// r = sqrt(fl(1 - fl(m * sin(theta)^2))). r = 0 gives +inf.
double term(double theta, double m, Kind kind);

} // namespace quadrilo
