// Legendre's integrals F(phi | m) and E(phi | m), as the yardstick that the
// rectangle sums are set beside.
//
// Method: Carlson's symmetric forms, with Boost.Math's R_F and R_D. phi is
// reduced by periods, phi = kπ + r with k the integer nearest to phi / π and
// |r| ≤ π/2, and
//   F(phi) = 2k K + F(r),   F(r) = s R_F(c², Δ, 1),
//   E(phi) = 2k E + E(r),   E(r) = s R_F(c², Δ, 1) − (m/3) s³ R_D(c², Δ, 1),
// where s = sin r, c = cos r, Δ = c² + (1 − m) s², K = R_F(0, 1 − m, 1) and
// E = R_F(0, 1 − m, 1) − (m/3) R_D(0, 1 − m, 1).
//
// Order: k, s and c come from MPFR at 128 bits, from phi itself, so that no
// rounded π enters the reduction: c = |cos phi| and s = (−1)^k sin phi, each
// rounded once to long double. Everything after is long double. Δ is formed
// as c² + (1 − m) s², never as 1 − m s²: near m = 1 and r = ±π/2 that
// difference cancels, while c² + (1 − m) s² is a sum of two non-negative
// terms, each to a few ulps (1 − m is exact for m ≥ 1/2). F(r) and 2kK have
// the same sign or |F(r)| ≤ K ≤ 2kK / 2, so their sum never cancels by more
// than a factor of 2.
//
// Error: R_F and R_D are homogeneous of degree −1/2 and −3/2 with
// non-negative arguments, so a relative error ε in each argument moves them by
// at most ε/2 and 3ε/2; with Boost's own few ulps, the long double result is
// within about 10 of its ulps (2^-64 on x86-64, 2^-113 on arm64) of the true
// integral, far below the double it is rounded to. The tests hold it to
// 2^-50 relative against published values and the identities.
//
// The caller keeps 0 ≤ m ≤ 1 (m < 1 for E) and |phi| < 2^53, so that k fits.
#include "compute/yardsticks/exact_integral.h"

#include "compute/exact/mp_memory.h"

#include <boost/math/special_functions/ellint_rd.hpp>
#include <boost/math/special_functions/ellint_rf.hpp>

#include <cmath>
#include <cstdint>
#include <new>

#include <mpfr.h>

namespace quadrilo {
namespace {

using boost::math::ellint_rd;
using boost::math::ellint_rf;
using Wide = long double;

struct Reduced {
    std::uint64_t k = 0; // periods of π
    Wide s = 0;          // sin r, r = phi − kπ in [−π/2, π/2]
    Wide c = 0;          // cos r, never negative
};

Reduced reduce(double phi)
{
    installMpMemory();
    mpfr_t x, sine, cosine, turns;
    mpfr_inits2(128, x, sine, cosine, turns, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(x, phi, MPFR_RNDN);
    mpfr_sin_cos(sine, cosine, x, MPFR_RNDN);
    mpfr_const_pi(turns, MPFR_RNDN);
    mpfr_div(turns, x, turns, MPFR_RNDN);
    mpfr_round(turns, turns);
    Reduced reduced;
    reduced.k = mpfr_get_uj(turns, MPFR_RNDN);
    reduced.s = mpfr_get_ld(sine, MPFR_RNDN);
    reduced.c = std::fabs(mpfr_get_ld(cosine, MPFR_RNDN));
    if (reduced.k % 2 == 1)
        reduced.s = -reduced.s;
    mpfr_clears(x, sine, cosine, turns, static_cast<mpfr_ptr>(nullptr));
    // The caller's thread may be one of many short-lived ones: π and the
    // other constants MPFR keeps for it go with this call.
    mpfr_free_cache();
    if (tookFromReserve())
        throw std::bad_alloc();
    return reduced;
}

Wide delta(const Reduced& r, Wide m)
{
    return r.c * r.c + (1 - m) * (r.s * r.s);
}

} // namespace

std::optional<double> legendreF(double phi, double m)
{
    const double sign = std::signbit(phi) ? -1.0 : 1.0;
    const Reduced r = reduce(std::fabs(phi));
    if (m == 1 && r.k > 0)
        return std::nullopt;
    const Wide wm = m;
    Wide f = r.s * ellint_rf(r.c * r.c, delta(r, wm), Wide{1});
    if (r.k > 0)
        f += 2 * static_cast<Wide>(r.k) * ellint_rf(Wide{0}, 1 - wm, Wide{1});
    return sign * static_cast<double>(f);
}

double legendreE(double phi, double m)
{
    const double sign = std::signbit(phi) ? -1.0 : 1.0;
    const Reduced r = reduce(std::fabs(phi));
    const Wide wm = m;
    const Wide c2 = r.c * r.c;
    const Wide d = delta(r, wm);
    Wide e = r.s * ellint_rf(c2, d, Wide{1}) - wm / 3 * (r.s * r.s * r.s) * ellint_rd(c2, d, Wide{1});
    if (r.k > 0) {
        const Wide complete = ellint_rf(Wide{0}, 1 - wm, Wide{1}) - wm / 3 * ellint_rd(Wide{0}, 1 - wm, Wide{1});
        e += 2 * static_cast<Wide>(r.k) * complete;
    }
    return sign * static_cast<double>(e);
}

Comparison compareWithExact(const Request& request, double sum)
{
    Comparison comparison;
    comparison.exact = request.kind == Kind::First ? legendreF(request.upperLimit, request.m)
                                          : legendreE(request.upperLimit, request.m);
    if (comparison.exact)
        comparison.difference = sum - *comparison.exact;
    return comparison;
}

} // namespace quadrilo
