#pragma once

#include "compute/exact/sine.h"
#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace quadrilo {

// Where any block of a segment starts. A block that starts inside a segment
// starts from the segment's first point on the grid of blocks, turned by
// binary powers of a block's worth of strides: a few turns in double-double,
// instead of a sine and cosine in multiple precision for every block.
class BlockStarts {
public:
    BlockStarts() = default;
    // Works out the segment's sines and turns, for kernels of `lanes` lanes
    // and blocks of `block` passes. Needs the thread's SineScratch.
    BlockStarts(const Segment& segment, std::size_t lanes, std::uint64_t block);

    // The run of `count` passes from `first` points into the segment. Where
    // `first` is 0 or a multiple of the block from the segment's first point
    // on the grid, turned there within 2^-96 (under 40 turns below 2^34
    // radians); elsewhere from MPFR.
    kernel::Run runAt(std::uint64_t first, std::uint64_t count) const;

    bool covers(const Segment& segment) const
    {
        return run_.base == segment.base && run_.stride == segment.stride;
    }

private:
    kernel::Run run_; // from the segment's first point
    std::uint64_t block_ = 0;
    std::uint64_t onGrid_ = 0; // the first point that starts a block, counted from the first
    DoubleDouble sine_, cosine_;
    std::vector<std::pair<DoubleDouble, DoubleDouble>> turns_; // of 2^k blocks' worth of strides
};

} // namespace quadrilo
