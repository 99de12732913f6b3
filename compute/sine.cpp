#include "compute/sine.h"

#include <mpfr.h>

namespace quadrilo {
namespace {

// MPFR numbers of this thread, set up once.
struct Scratch {
    mpfr_t in, out, wideSin, wideCos, rest;
    Scratch()
    {
        mpfr_init2(in, 53);
        mpfr_init2(out, 53);
        mpfr_inits2(192, wideSin, wideCos, rest, static_cast<mpfr_ptr>(nullptr));
    }
    ~Scratch()
    {
        mpfr_clears(in, out, wideSin, wideCos, rest, static_cast<mpfr_ptr>(nullptr));
        mpfr_free_cache(); // this thread's constants, such as pi
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

Scratch& scratch()
{
    thread_local Scratch s;
    return s;
}

DoubleDouble split(mpfr_t value, mpfr_t rest)
{
    DoubleDouble dd;
    dd.hi = mpfr_get_d(value, MPFR_RNDN);
    mpfr_sub_d(rest, value, dd.hi, MPFR_RNDN); // exact at 192 bits
    dd.lo = mpfr_get_d(rest, MPFR_RNDN);
    return dd;
}

} // namespace

double correctSin(double x)
{
    Scratch& s = scratch();
    mpfr_set_d(s.in, x, MPFR_RNDN); // exact: 53 bits hold any double
    mpfr_sin(s.out, s.in, MPFR_RNDN);
    // sin(+-0) is +-0, whose exponent MPFR leaves undefined. A result in the
    // subnormal range would be rounded twice; only |x| below 2^-1021 lands
    // there, where sin(x) rounds to x itself.
    if (mpfr_zero_p(s.out) || mpfr_get_exp(s.out) < -1021)
        return x;
    return mpfr_get_d(s.out, MPFR_RNDN);
}

double squaredSine(double x)
{
    const double s = correctSin(x);
    return s * s;
}

void sinCosOfMultiple(double x, unsigned k, DoubleDouble& sine, DoubleDouble& cosine)
{
    Scratch& s = scratch();
    mpfr_set_d(s.rest, x, MPFR_RNDN);
    mpfr_mul_ui(s.rest, s.rest, k, MPFR_RNDN); // exact: 53 + 32 bits fit in 192
    mpfr_sin_cos(s.wideSin, s.wideCos, s.rest, MPFR_RNDN);
    sine = split(s.wideSin, s.rest);
    cosine = split(s.wideCos, s.rest);
}

} // namespace quadrilo
