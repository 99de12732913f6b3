#include "compute/periods/convergents.h"

#include "compute/exact/mp_memory.h"

#include <cassert>
#include <new>

#include <mpfr.h>

namespace quadrilo {
namespace {

// 320 bits: pi / stride is below 2^72 and the convergents wanted below
// 2^40, so every partial quotient up to there is exact, and each drift
// (N stride exact, M pi within 2^-270) keeps 50 bits after the cancellation.
constexpr mpfr_prec_t kBits = 320;

class Numbers {
public:
    Numbers() { mpfr_inits2(kBits, pi_, x_, rest_, turns_, static_cast<mpfr_ptr>(nullptr)); }
    ~Numbers() { mpfr_clears(pi_, x_, rest_, turns_, static_cast<mpfr_ptr>(nullptr)); }
    Numbers(const Numbers&) = delete;
    Numbers& operator=(const Numbers&) = delete;
    mpfr_t pi_, x_, rest_, turns_;
};

} // namespace

std::vector<Period> periodsOf(double stride, std::uint64_t longest)
{
    assert(stride > 0.0 && stride < 1.0);
    installMpMemory();
    std::vector<Period> periods;
    Numbers n;
    mpfr_const_pi(n.pi_, MPFR_RNDN);
    mpfr_div_d(n.x_, n.pi_, stride, MPFR_RNDN);

    // p/q, the convergents of x, from p_{-2}/q_{-2} = 0/1 and p_{-1}/q_{-1} = 1/0.
    std::uint64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    for (int k = 0; k < 40; ++k) {
        mpfr_floor(n.rest_, n.x_);
        const double a = mpfr_get_d(n.rest_, MPFR_RNDN);
        if (a >= 0x1p40)
            break;
        const auto ak = static_cast<std::uint64_t>(a);
        if (p1 != 0 && ak > (longest - p0) / p1)
            break;
        const std::uint64_t p = ak * p1 + p0, q = ak * q1 + q0;
        if (p > longest)
            break;
        mpfr_set_d(n.rest_, stride, MPFR_RNDN);
        // Both below 2^53, so doubles hold them, also where a long is 32 bits.
        mpfr_mul_d(n.rest_, n.rest_, static_cast<double>(p), MPFR_RNDN); // exact
        mpfr_mul_d(n.turns_, n.pi_, static_cast<double>(q), MPFR_RNDN);
        mpfr_sub(n.rest_, n.rest_, n.turns_, MPFR_RNDN);
        periods.push_back({p, q, mpfr_get_d(n.rest_, MPFR_RNDN)});
        p0 = p1, q0 = q1, p1 = p, q1 = q;
        // x <- 1 / (x - a)
        mpfr_floor(n.rest_, n.x_);
        mpfr_sub(n.x_, n.x_, n.rest_, MPFR_RNDN);
        if (mpfr_zero_p(n.x_))
            break;
        mpfr_ui_div(n.x_, 1, n.x_, MPFR_RNDN);
    }
    if (tookFromReserve())
        throw std::bad_alloc();
    return periods;
}

} // namespace quadrilo
