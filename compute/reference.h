#pragma once

#include "compute/engine.h"

namespace quadrilo {

// The rectangle sums as one plain loop: the readable definition of every
// result. The fast engine must give the same bits; the tests hold it to that.
Evaluation firstKindReference(double phi, double degrees);
Evaluation secondKindReference();

// sin(x)^2 with the engine's sine.
double squaredSine(double x);

// One pass's term: fl(fl(1 / r) * h) (reciprocal) or fl(r * h), with
// r = sqrt(fl(1 - fl(m * sin(theta)^2))). r = 0 gives +inf.
double term(double theta, double m, bool reciprocal);

} // namespace quadrilo
