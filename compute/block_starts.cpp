#include "compute/block_starts.h"

#include <cassert>

namespace quadrilo {

BlockStarts::BlockStarts(const Segment& segment, std::size_t lanes, std::uint64_t block) : block_(block)
{
    run_.base = segment.base;
    run_.stride = segment.stride;
    sinCosOfMultiple(segment.base, 1, run_.sinFirst, run_.cosFirst);
    sinCosOfMultiple(segment.stride, 1, run_.sinStride, run_.cosStride);
    sinCosOfMultiple(segment.stride, static_cast<unsigned>(lanes), run_.sinLeap, run_.cosLeap);
    onGrid_ = (block - segment.firstPass % block) % block;
    if (onGrid_ >= segment.count)
        return;
    sinCosOfMultiple(segment.point(segment.firstPass + onGrid_), 1, sine_, cosine_);
    for (std::uint64_t blocks = 1; onGrid_ + blocks * block < segment.count; blocks *= 2) {
        auto& [sine, cosine] = turns_.emplace_back();
        // A power of two times the stride: exact.
        sinCosOfMultiple(segment.stride * static_cast<double>(blocks * block), 1, sine, cosine);
    }
}

kernel::Run BlockStarts::runAt(std::uint64_t first, std::uint64_t count) const
{
    kernel::Run run = run_;
    run.first = static_cast<double>(first);
    run.count = count;
    if (first == 0)
        return run;
    if (first < onGrid_ || (first - onGrid_) % block_ != 0) {
        // Off the grid, where a stretch summed by periods ended: seldom.
        sinCosOfMultiple(run_.base + static_cast<double>(first) * run_.stride, 1, run.sinFirst, run.cosFirst);
        return run;
    }
    run.sinFirst = sine_;
    run.cosFirst = cosine_;
    std::uint64_t blocks = (first - onGrid_) / block_;
    for (std::size_t k = 0; blocks != 0; ++k, blocks >>= 1)
        if (blocks & 1)
            turn(run.sinFirst, run.cosFirst, turns_[k].first, turns_[k].second);
    return run;
}

} // namespace quadrilo
