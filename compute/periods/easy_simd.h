// The body of every build of easy.h: branch-free, so that it vectorizes to
// the instruction set it is built for. Each build gives it a tag of its own.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace quadrilo {

template <typename Tag>
std::uint64_t easyResidues(const double* first, const double* last, std::size_t size, double scale, double q0,
                           double sigma, double drift, double margin, std::int32_t* levels)
{
    // [q, q + drift] widened by the margin holds 0 exactly when q lies
    // within `half` of -centre.
    const double centre = drift / 2, half = std::abs(drift) / 2 + margin;
    for (std::size_t j = 0; j < size; ++j) {
        const double a = first[j] * scale, b = last[j] * scale;
        const double ka = (a + 0x1p52) - 0x1p52, kb = (b + 0x1p52) - 0x1p52;
        const double q = q0 + static_cast<double>(static_cast<std::int32_t>(j)) * sigma;
        // |a - ka| is at most 1/2, and exactly 1/2 only for a tie.
        const bool easy = (ka == kb) & (std::abs(a - ka) < 0.5) & (std::abs(b - kb) < 0.5) & (a < 0x1p31) &
                          (std::abs(q + centre) > half);
        levels[j] = easy ? static_cast<std::int32_t>(ka) : -1;
    }
    std::uint64_t sum = 0;
    for (std::size_t j = 0; j < size; ++j)
        sum += static_cast<std::uint64_t>(levels[j] < 0 ? 0 : levels[j]);
    return sum;
}

} // namespace quadrilo
