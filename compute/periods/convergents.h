#pragma once

#include <cstdint>
#include <vector>

namespace quadrilo {

// A whole number of half turns, nearly: `passes` strides of a segment come
// to `halfTurns` times pi plus `drift`, a few strides' worth of radians or
// far less, so that |sin| repeats after `passes` passes, shifted by `drift`.
struct Period {
    std::uint64_t passes = 0;
    std::uint64_t halfTurns = 0;
    double drift = 0.0; // passes * stride - halfTurns * pi, to the double nearest
};

// The periods of a stride from the continued fraction of pi / stride: its
// convergents N / M, each the best approximation of its size, so that each
// drift is smaller than every drift of fewer passes. Those of at most
// `longest` passes, shortest first. The stride must be positive and below 1.
std::vector<Period> periodsOf(double stride, std::uint64_t longest);

} // namespace quadrilo
