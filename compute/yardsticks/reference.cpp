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
 * The sine is correctly rounded (correctSin), so that the result is the same
 * on every machine and with every way of computing it. d >= 0 always (m, s <= 1) and d = 0 only when sin(alpha) and
 * sin(theta_i) are both exactly +-1, which is reported as a division by zero;
 * otherwise d >= 2^-53 and f < 1e8, so nothing overflows. The caller must keep
 * end below 2^34, where h stops moving the counter.
 */
#include "compute/yardsticks/reference.h"

#include "platform/errors.h"

#include "compute/exact/sine.h"

#include <cmath>

namespace quadrilo {
namespace {

Evaluation rectangleSum(double end, double m, Kind kind)
{
    const SineScratch scratch;
    Evaluation result;
    for (double theta = 0.0; theta <= end;) {
        const double t = term(theta, m, kind);
        if (kind == Kind::First && std::isinf(t))
            throw RuntimeError(RuntimeError::DivisionByZero);
        result.sum = t + result.sum;
        theta += kStep;
        ++result.passes;
        result.lastCounter = theta;
    }
    return result;
}

} // namespace

double term(double theta, double m, Kind kind)
{
    const double r = std::sqrt(1.0 - m * squaredSine(theta));
    return (kind == Kind::First ? 1.0 / r : r) * kStep;
}

Evaluation firstKindReference(double phi, double degrees)
{
    return rectangleSum(phi, squaredSine(kDegreeFactor * degrees), Kind::First);
}

Evaluation secondKindReference()
{
    return rectangleSum(kSecondKindEnd, squaredSine(kDegreeFactor * kSecondKindDegrees), Kind::Second);
}

} // namespace quadrilo
