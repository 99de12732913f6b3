#pragma once

#include "compute/exact/sine.h"
#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// `count` real pass points of a segment from its point `first`, with the
// constants the engine gives a kernel of `lanes` lanes.
inline quadrilo::kernel::Run runOf(const quadrilo::Segment& segment, std::uint64_t first, std::size_t count,
                                   std::size_t lanes)
{
    quadrilo::kernel::Run run;
    run.base = segment.base;
    run.stride = segment.stride;
    run.first = static_cast<double>(first);
    run.count = count;
    quadrilo::sinCosOfMultiple(segment.point(segment.firstPass + first), 1, run.sinFirst, run.cosFirst);
    quadrilo::sinCosOfMultiple(run.stride, 1, run.sinStride, run.cosStride);
    quadrilo::sinCosOfMultiple(run.stride, static_cast<unsigned>(lanes), run.sinLeap, run.cosLeap);
    return run;
}

struct HardSine {
    double theta;
    double sine; // correctly rounded
};

// data/hard-sines.txt: the pass points below 64 whose sines lie nearest a
// rounding midpoint.
inline std::vector<HardSine> hardSines()
{
    std::vector<HardSine> rows;
    std::ifstream file(QUADRILO_HARD_SINES);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string theta, decimal, sine;
        fields >> theta >> decimal >> sine;
        rows.push_back({std::strtod(theta.c_str(), nullptr), std::strtod(sine.c_str(), nullptr)});
    }
    return rows;
}
