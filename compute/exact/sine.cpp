#include "compute/exact/sine.h"

#include "compute/exact/fused.h"
#include "compute/exact/mp_memory.h"

#include <cmath>
#include <new>
#include <optional>

#include <mpfr.h>

namespace quadrilo {
namespace {

// The innermost scratch of this thread. A plain pointer: a thread_local
// with a destructor is registered on first use, and glibc ends the process
// when that registration finds no memory.
thread_local SineScratch* current = nullptr;

DoubleDouble split(mpfr_t value, mpfr_t rest)
{
    DoubleDouble dd;
    dd.hi = mpfr_get_d(value, MPFR_RNDN);
    mpfr_sub_d(rest, value, dd.hi, MPFR_RNDN); // exact at 192 bits
    dd.lo = mpfr_get_d(rest, MPFR_RNDN);
    return dd;
}

// The current scratch's numbers, or a scratch of the call's own.
class Use {
public:
    Use() : numbers_(current ? current->numbers() : (own_.emplace(), own_->numbers())) {}
    SineScratch::Numbers& operator*() const { return numbers_; }
    SineScratch::Numbers* operator->() const { return &numbers_; }

private:
    std::optional<SineScratch> own_;
    SineScratch::Numbers& numbers_;
};

void checkMemory()
{
    if (tookFromReserve())
        throw std::bad_alloc();
}

} // namespace

// a b with its rounding error (less the low parts' product, under 2^-106).
DoubleDouble times(const DoubleDouble& a, const DoubleDouble& b)
{
    const double p = a.hi * b.hi;
    double e = fused(a.hi, b.hi, -p);
    e = fused(a.hi, b.lo, e);
    e = fused(a.lo, b.hi, e);
    return {p, e};
}

// a + b, the high parts' two-sum carrying the low parts, renormalised.
DoubleDouble plus(const DoubleDouble& a, const DoubleDouble& b)
{
    const double s = a.hi + b.hi;
    const double bb = s - a.hi;
    double e = (a.hi - (s - bb)) + (b.hi - bb);
    e = e + a.lo + b.lo;
    const double hi = s + e;
    return {hi, e - (hi - s)};
}

struct SineScratch::Numbers {
    mpfr_t in, out, wideSin, wideCos, rest;
    Numbers()
    {
        mpfr_init2(in, 53);
        mpfr_init2(out, 53);
        mpfr_inits2(192, wideSin, wideCos, rest, static_cast<mpfr_ptr>(nullptr));
    }
    ~Numbers() { mpfr_clears(in, out, wideSin, wideCos, rest, static_cast<mpfr_ptr>(nullptr)); }
};

SineScratch::SineScratch() : outer_(current)
{
    installMpMemory();
    numbers_ = std::make_unique<Numbers>();
    if (tookFromReserve()) {
        numbers_.reset();
        if (!outer_)
            mpfr_free_cache();
        throw std::bad_alloc();
    }
    current = this;
}

SineScratch::~SineScratch()
{
    current = outer_;
    numbers_.reset();
    if (!outer_)
        mpfr_free_cache(); // this thread's constants, such as pi
}

double correctSin(double x)
{
    const Use s;
    mpfr_set_d(s->in, x, MPFR_RNDN); // exact: 53 bits hold any double
    mpfr_sin(s->out, s->in, MPFR_RNDN);
    checkMemory();
    // sin(+-0) is +-0, whose exponent MPFR leaves undefined. A result in the
    // subnormal range would be rounded twice; only |x| below 2^-1021 lands
    // there, where sin(x) rounds to x itself.
    if (mpfr_zero_p(s->out) || mpfr_get_exp(s->out) < -1021)
        return x;
    return mpfr_get_d(s->out, MPFR_RNDN);
}

double squaredSine(double x)
{
    const double s = correctSin(x);
    return s * s;
}

void sinCosOfMultiple(double x, std::uint64_t k, DoubleDouble& sine, DoubleDouble& cosine)
{
    const Use s;
    mpfr_set_d(s->rest, x, MPFR_RNDN);
    // Exact: 53 + 53 bits fit in 192, and a double holds k, also where a
    // long has 32 bits.
    mpfr_mul_d(s->rest, s->rest, static_cast<double>(k), MPFR_RNDN);
    mpfr_sin_cos(s->wideSin, s->wideCos, s->rest, MPFR_RNDN);
    checkMemory();
    sine = split(s->wideSin, s->rest);
    cosine = split(s->wideCos, s->rest);
}

void turn(DoubleDouble& sine, DoubleDouble& cosine, const DoubleDouble& S, const DoubleDouble& C)
{
    const DoubleDouble minusSine{-sine.hi, -sine.lo};
    const DoubleDouble s = plus(times(sine, C), times(cosine, S));
    cosine = plus(times(cosine, C), times(minusSine, S));
    sine = s;
}

} // namespace quadrilo
