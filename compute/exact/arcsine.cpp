#include "compute/exact/arcsine.h"

#include "compute/exact/mp_memory.h"

#include <cmath>
#include <new>

#include <mpfr.h>

namespace quadrilo {
namespace {

constexpr double kSineError = 0x1p-96; // eps_t

DoubleDouble negated(const DoubleDouble& x) { return {-x.hi, -x.lo}; }

} // namespace

ArcsineOverPi::ArcsineOverPi()
{
    installMpMemory();
    for (std::size_t i = 0; i < table_.size(); ++i)
        sinCosOfMultiple(1.0 / kSteps, i, table_[i].sine, table_[i].cosine);
    mpfr_t x;
    mpfr_init2(x, 192);
    // Each part rounded to nearest from 192 bits: within 2^-106 together.
    const auto split = [&](DoubleDouble& to) {
        to.hi = mpfr_get_d(x, MPFR_RNDN);
        mpfr_sub_d(x, x, to.hi, MPFR_RNDN);
        to.lo = mpfr_get_d(x, MPFR_RNDN);
    };
    mpfr_set_ui(x, 1, MPFR_RNDN);
    for (std::size_t k = 0; k < inverseFactorial_.size(); ++k) {
        mpfr_set_ui(x, 1, MPFR_RNDN);
        for (std::size_t j = 2; j <= k; ++j)
            mpfr_div_ui(x, x, j, MPFR_RNDN);
        split(inverseFactorial_[k]);
    }
    mpfr_const_pi(x, MPFR_RNDN);
    mpfr_ui_div(x, 1, x, MPFR_RNDN);
    split(inversePi_);
    mpfr_clear(x);
    if (tookFromReserve())
        throw std::bad_alloc();
}

ArcsineOverPi::SinCos ArcsineOverPi::of(double x) const
{
    const auto i = static_cast<std::size_t>(std::nearbyint(x * kSteps));
    const double r = x - static_cast<double>(i) / kSteps; // exact
    const DoubleDouble rr = times({r, 0.0}, {r, 0.0});
    // sin r = r (1 - r^2/3! + ... + r^8/9!), cos r = 1 - r^2/2! + ... + r^10/10!
    DoubleDouble sine = inverseFactorial_[9], cosine = inverseFactorial_[10];
    for (int k = 7; k >= 1; k -= 2)
        sine = plus(inverseFactorial_[k], times(negated(sine), rr));
    for (int k = 8; k >= 0; k -= 2)
        cosine = plus(inverseFactorial_[k], times(negated(cosine), rr));
    sine = times(sine, {r, 0.0});
    SinCos result = table_[i];
    turn(result.sine, result.cosine, sine, cosine);
    return result;
}

ArcsineOverPi::SinCos ArcsineOverPi::of(const DoubleDouble& x) const
{
    SinCos result = of(x.hi);
    turn(result.sine, result.cosine, {x.lo, 0.0}, {1.0, -0.5 * x.lo * x.lo});
    return result;
}

std::optional<Bracketed> ArcsineOverPi::operator()(const DoubleDouble& e) const
{
    // Newton steps from the C library's guess, until the next would move a
    // by less than 2^-100: the step's square over twice the cosine.
    const double a1 = std::asin(e.hi + e.lo);
    DoubleDouble a{a1, 0.0};
    double cosine = 0.0;
    for (int i = 0;; ++i) {
        const SinCos at = of(a);
        cosine = at.cosine.hi;
        if (!(cosine >= 0x1p-20) || i == 4)
            return std::nullopt;
        const double step = plus(e, negated(at.sine)).hi / cosine;
        a = plus(a, {step, 0.0});
        if (step * step <= 0x1p-100 * cosine)
            break;
    }
    const double w = 0x1p-90 / cosine;
    const DoubleDouble below = plus(e, negated(of(plus(a, {-w, 0.0})).sine));
    const DoubleDouble above = plus(of(plus(a, {w, 0.0})).sine, negated(e));
    if (!(below.hi > 2 * kSineError && above.hi > 2 * kSineError))
        return std::nullopt;
    return Bracketed{times(a, inversePi_), w / 3.0 + 0x1p-101};
}

} // namespace quadrilo
