/*
 * Left rectangle sums for Legendre's integrals,
 *
 *   first kind   S = sum_i h / sqrt(1 - sin^2(alpha) sin^2(theta_i)),
 *   second kind  S = sum_i h * sqrt(1 - sin^2(alpha) sin^2(theta_i)),
 *
 * with h = 0.000001, theta_0 = 0, theta_{i+1} = fl(theta_i + h) while
 * theta_i <= end (inclusive; the drift of the repeated rounding decides the
 * last point, so theta is never formed as i * h). alpha = fl(fl(kPi / 180) *
 * degrees) and m = fl(sin(alpha)^2) are formed once; they do not change
 * within an evaluation. Each pass, in this order and each step rounded on its
 * own (built without contraction):
 *
 *   s = fl(sin(theta)^2), d = fl(1 - fl(m * s)), r = sqrt(d),
 *   first kind: f = fl(1 / r); second kind: f = r,
 *   S = fl(fl(f * h) + S), in increasing theta.
 *
 * The sine is SLEEF's deterministic 1-ulp sine, so that the same bits come out
 * on every machine. d >= 0 always (m, s <= 1) and d = 0 only when sin(alpha)
 * and sin(theta_i) are both exactly +-1, which is reported as a division by
 * zero; otherwise d >= 2^-53 and f < 1e8, so no overflow. The caller must
 * keep end below 2^34, where h stops moving the counter; firstKind refuses
 * any other upper limit.
 */
#include "compute/engine.h"

#include "platform/errors.h"

#include <sleef.h>

#include <cmath>

namespace quadrilo {
namespace {

constexpr std::uint64_t kChunk = 1u << 16;

double sine(double x) { return Sleef_cinz_sind1_u10purec(x); }

double squaredSine(double x)
{
    const double s = sine(x);
    return s * s;
}

template <bool Reciprocal>
std::optional<Evaluation> rectangleSum(double end, double m, const ProgressFn& progress)
{
    Evaluation result;
    if (!(0.0 <= end))
        return result;

    double theta = 0.0;
    double sum = 0.0;
    std::uint64_t passes = 0;
    for (;;) {
        const std::uint64_t chunkEnd = passes + kChunk;
        do {
            const double d = 1.0 - m * squaredSine(theta);
            const double r = std::sqrt(d);
            double f = r;
            if constexpr (Reciprocal) {
                if (r == 0.0)
                    throw RuntimeError(RuntimeError::DivisionByZero);
                f = 1.0 / r;
            }
            sum = f * kStep + sum;
            theta += kStep;
            ++passes;
            if (!(theta <= end))
                return Evaluation{sum, passes, theta};
        } while (passes < chunkEnd);
        if (progress && !progress(passes))
            return std::nullopt;
    }
}

} // namespace

std::optional<Evaluation> firstKind(double phi, double degrees, const ProgressFn& progress)
{
    if (!std::isfinite(phi) || phi >= kLimitBound)
        throw InputRefused("Il limite superiore è troppo grande: con il passo 0,000001 il calcolo "
                           "non finirebbe mai. Inserire un valore minore di 17179869184.");
    const double alpha = kPi / 180 * degrees;
    return rectangleSum<true>(phi, squaredSine(alpha), progress);
}

std::optional<Evaluation> secondKind(const ProgressFn& progress)
{
    const double alpha = kPi / 180 * 5;
    return rectangleSum<false>(kSecondKindEnd, squaredSine(alpha), progress);
}

} // namespace quadrilo
