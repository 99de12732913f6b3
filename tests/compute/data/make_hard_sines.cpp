// Makes hard-sines.txt again: walks the counted loop theta = 0, h, 2h, ...
// below 64 by repeated addition, measures each sine's distance to the
// nearest rounding midpoint at 300 bits, and writes the 64 nearest.
// 64 million points: a few minutes.
//   build/tests/compute/make_hard_sines > tests/compute/data/hard-sines.txt
#include "compute/loop/rules.h"

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

struct Hard {
    double theta;
    double sine;     // rounded to nearest
    double distance; // from the true sine to the nearest midpoint
};

} // namespace

int main()
{
    mpfr_t s, mid, d;
    mpfr_inits2(300, s, mid, d, static_cast<mpfr_ptr>(nullptr));
    std::vector<Hard> hardest;
    double worst = INFINITY; // the 64th distance so far
    for (double theta = quadrilo::kStep; theta < 64; theta += quadrilo::kStep) {
        mpfr_set_d(s, theta, MPFR_RNDN);
        mpfr_sin(s, s, MPFR_RNDN);
        const double rounded = mpfr_get_d(s, MPFR_RNDN);
        // The midpoint on the true sine's side of its nearest double.
        mpfr_set_d(mid, rounded, MPFR_RNDN);
        const bool above = mpfr_cmp(s, mid) > 0;
        const double ulp = std::fabs(std::nextafter(rounded, above ? INFINITY : -INFINITY) - rounded);
        mpfr_set_d(d, ulp / 2, MPFR_RNDN);
        if (above)
            mpfr_add(mid, mid, d, MPFR_RNDN);
        else
            mpfr_sub(mid, mid, d, MPFR_RNDN);
        mpfr_sub(d, s, mid, MPFR_RNDN);
        mpfr_abs(d, d, MPFR_RNDN);
        const double distance = mpfr_get_d(d, MPFR_RNDN);
        // Absolute: the kernels know each sine to within 2^-80.
        if (hardest.size() == 64 && distance >= worst)
            continue;
        hardest.push_back({theta, rounded, distance});
        std::sort(hardest.begin(), hardest.end(), [](const Hard& a, const Hard& b) { return a.distance < b.distance; });
        if (hardest.size() > 64)
            hardest.pop_back();
        if (hardest.size() == 64)
            worst = hardest.back().distance;
    }
    mpfr_clears(s, mid, d, static_cast<mpfr_ptr>(nullptr));
    std::puts("# The 64 pass points below 64 whose sine lies nearest to a rounding midpoint\n"
              "# (halfway between two doubles), so that a sine known to within 2^-80 cannot\n"
              "# be rounded from its high part alone. Each is a point of the counted loop\n"
              "# theta = 0, h, 2h, ... with h = 0.000001 added by repeated addition.\n"
              "# Checked independently at 300 bits: column 3 is the correctly rounded sine,\n"
              "# column 4 the distance from the true sine to the nearest midpoint.\n"
              "# theta (hex)  theta (decimal)  sin(theta) rounded to nearest (hex)  distance to midpoint  "
              "log2(distance)");
    std::sort(hardest.begin(), hardest.end(), [](const Hard& a, const Hard& b) { return a.theta < b.theta; });
    for (const Hard& h : hardest)
        std::printf("%a %.17g %a %g %.3f\n", h.theta, h.theta, h.sine, h.distance, std::log2(h.distance));
}
