#pragma once

#include "compute/request.h"

#include <optional>

namespace quadrilo {

// Legendre's incomplete integrals of the first and second kind in the
// parameter m = sin²α, from 0 to phi:
//   F(phi | m) = ∫ dθ / √(1 − m sin²θ),   E(phi | m) = ∫ √(1 − m sin²θ) dθ.
// Nothing when the integral diverges (m = 1 and |phi| ≥ π/2). The caller
// keeps 0 ≤ m ≤ 1 and |phi| below 2^53; E asks m < 1.
std::optional<double> legendreF(double phi, double m);
double legendreE(double phi, double m);

// The integral that a request's rectangle sum stands for, with the very m
// and upper limit that the sum uses, and how far the sum is from it.
struct Comparison {
    std::optional<double> exact; // nothing: the integral diverges
    double difference = 0.0;     // sum − exact
};
Comparison compareWithExact(const Request& request, double sum);

} // namespace quadrilo
