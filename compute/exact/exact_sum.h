#pragma once

#include <cstddef>

namespace quadrilo {

// The sum of round(t[i] * scale) over i < n (n a multiple of 8, no t[i]
// negative, scale a power of two), exact while every quotient stays below
// 2^52 and the sum below 2^53; a quotient past that gives a sum of at least
// 2^52, and an infinite t[i] an infinite sum. Sets *exact to false when
// some t[i] * scale is a tie between two integers.
using UnitsFn = double (*)(const double* t, std::size_t n, double scale, bool* exact);

// A block's terms counted in units of ulp(S) for some S: see ExactSum.
struct Counted {
    double scale = 0.0; // 1 / ulp(S) it was counted for; 0: not counted
    double units = 0.0; // sum of round(t_i * scale)
    bool exact = false; // no term was a tie
};

// S = fl(t + S) over blocks of terms in increasing order, with the bits of
// the plain chain but mostly a block at a time.
//
// While S stays in one binade [2^(e-1), 2^e), with u = ulp(S) = 2^(e-53),
// S is an integer multiple of u and fl(S + t) = S + u * round(t / u) for any
// t >= 0 whose quotient t / u is not a tie (a tie is broken by the parity of
// S, which moves) and as long as the result stays below 2^e. Every term is
// positive, so every partial sum of a block stays below the block's total:
// if S / u + K <= 2^53 - 1, with K the sum of round(t_i / u), the whole block
// adds exactly as S + K * u, in any order. K is a sum of integers; while it
// stays below 2^53 every partial sum of it is exact, and rounding is
// monotone, so a K that came out too large to fit was too large exactly.
//
// The caller counts K with `scale` = 1 / u of S as it last saw it, possibly
// on another thread, before the block's turn. add() takes K only when that
// scale is still the one of S, nothing was a tie, and the block fits in the
// binade (a term of 2^52 units or more never does, as S / u >= 2^52);
// otherwise it retries in pieces of 256 counted afresh, and a piece that
// still cannot go is added term by term.
// S = 0 counts nothing (0 has no binade); its first term starts it.
//
// Preconditions: terms are not negative (an infinite one makes S infinite);
// a block passed to add() is padded with zeros to a multiple of 8; blocks
// come in order.
class ExactSum {
public:
    explicit ExactSum(UnitsFn units) : units_(units) {}

    double value() const { return sum_; }

    // 1 / ulp(S), or 0 while S is 0.
    double scale() const { return scaleOf(sum_); }
    static double scaleOf(double s);

    // Counts a block for the current or a given scale.
    Counted count(const double* terms, std::size_t padded, double scale) const;

    // add() in two steps, for a caller that forms the terms only when the
    // count cannot go: addCounted adds the block if its count can, and
    // otherwise leaves S as it was for addTerms.
    void add(const double* terms, std::size_t count, const Counted& counted);
    bool addCounted(const Counted& counted);
    void addTerms(const double* terms, std::size_t count);

private:

    UnitsFn units_;
    double sum_ = 0.0;
};

} // namespace quadrilo
