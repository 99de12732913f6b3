#include "compute/exact/floor_sum.h"

#include <cassert>

namespace quadrilo {

std::optional<Wide> floorSum(std::uint64_t n, Wide m, Wide a, Wide b)
{
    assert(m > 0);
    constexpr Wide kRoom = Wide{1} << 127;
    // Past the first step, each a n + b is below the last one's a n + m, (n,
    // m, a) becoming (floor((a n + b) / m), a, m) with a and b reduced below
    // m; every part of the sum is below the whole, n (a n + b) / m.
    if (n != 0 && (a >= kRoom / n || b >= kRoom - a * n || m >= kRoom - a * n - b ||
                   (a * n + b) / m >= kRoom / n))
        return std::nullopt;
    Wide sum = 0;
    for (;;) {
        if (a >= m) {
            const Wide pairs = n % 2 == 0 ? Wide{n / 2} * (n - 1) : Wide{n} * ((n - 1) / 2);
            sum += pairs * (a / m);
            a %= m;
        }
        if (b >= m) {
            sum += Wide{n} * (b / m);
            b %= m;
        }
        const Wide top = a * n + b;
        if (top < m)
            return sum;
        n = static_cast<std::uint64_t>(top / m);
        b = top % m;
        const Wide old = m;
        m = a;
        a = old;
    }
}

} // namespace quadrilo
