#include "compute/exact/exact_sum.h"

#include <algorithm>
#include <cmath>

namespace quadrilo {
namespace {
constexpr std::size_t kPiece = 256;
}

double ExactSum::scaleOf(double s)
{
    if (!(s > 0.0))
        return 0.0;
    int exponent = 0;
    std::frexp(s, &exponent);
    return std::ldexp(1.0, 53 - exponent);
}

Counted ExactSum::count(const double* terms, std::size_t padded, double scale) const
{
    Counted counted;
    if (scale == 0.0)
        return counted;
    counted.scale = scale;
    counted.units = units_(terms, padded, scale, &counted.exact);
    return counted;
}

bool ExactSum::addCounted(const Counted& counted)
{
    const double scale = this->scale();
    if (!counted.exact || scale == 0.0 || counted.scale != scale ||
        sum_ * scale + counted.units > 0x1p53 - 1)
        return false;
    sum_ += counted.units / scale; // both multiples of ulp(S), the result in S's binade
    return true;
}

void ExactSum::add(const double* terms, std::size_t count, const Counted& counted)
{
    if (!addCounted(counted))
        addTerms(terms, count);
}

void ExactSum::addTerms(const double* terms, std::size_t count)
{
    for (std::size_t i = 0; i < count; i += kPiece) {
        const std::size_t n = std::min(kPiece, count - i);
        const std::size_t padded = (n + 7) / 8 * 8; // the last piece reads the block's padding
        if (!addCounted(this->count(terms + i, padded, scale())))
            for (std::size_t j = i; j < i + n; ++j)
                sum_ = terms[j] + sum_;
    }
}

} // namespace quadrilo
