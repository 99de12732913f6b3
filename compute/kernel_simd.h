// The kernels, written once over a vector type and compiled once for each
// instruction set by the kernel_*.cpp files. Everything here has internal
// linkage and calls no inline library code, so that nothing built for a wider
// instruction set can be shared with, and then run by, a narrower one.
//
// Sines by recurrence. Within a run the points are theta_j = a + j d exactly,
// and with L = kLanes and c = cos(L d),
//
//   sin(theta_{j+2L}) = 2 c sin(theta_{j+L}) - sin(theta_j),
//
// so each of the L lanes steps its sines forward as double-doubles, from its
// first two points, found by rotating the run's first point by d 2L - 1
// times (sin d, cos d and c come correctly rounded to 106 bits; the first
// point's sine and cosine must be within 2^-96, and a rotation adds under
// 2^-102, so both rows start within 2^-95). A step errs by under 2^-102
// (product with FMA, sum with two-sum), and an error made k steps before
// grows by at most k + 1 (the Chebyshev polynomials of the second kind at c
// are bounded so). A run of at most 2^15 points is at most 2^10 steps per
// lane: the steps leave under 2^-83 and the starting rows under 2^-84, so
// the sine is known to within 2^-82; we take E = 2^-80. Its
// correct rounding is the high part unless the low part lies within E of
// half the gap to the high part's nearer neighbour (Ziv's test); those few
// points get correctSin. A high part of 0 is exact: the sine of a pass point
// other than 0 is far above E.
//
// The lanes are independent, so a row's steps overlap each other and the
// root and division; each lane's state is updated in place, two rows a turn,
// so that what does not fit in registers is spilled whole, never moved
// through general registers. A root of 0 gives an infinite term, left for
// the sum to show: every finite term is below 100 (the root of a nonzero
// 1 - m s^2 is at least 2^-27), so only an infinite term makes S infinite.
#pragma once

#include "compute/kernels.h"

namespace {

using quadrilo::DoubleDouble;
using quadrilo::kernel::kLanes;
using quadrilo::kernel::Run;

// What a vector type needs beyond its instruction set's fma, root and any.
template <typename Vector, int Width>
struct Lanes {
    using V = Vector;
    static constexpr int W = Width;
    static_assert(sizeof(V) == W * sizeof(double), "the width is the vector's");
    using L = decltype(V{} < V{});

    // Half the distance from x to its nearer neighbour (0 for 0).
    static V halfUlp(V x)
    {
        L bits;
        __builtin_memcpy(&bits, &x, sizeof bits);
        // One less in the last place: a power of two 2^e falls to the binade
        // below, whose half gap 2^(e-54) is its distance to the neighbour
        // below; anything else keeps its binade. (0 would give infinity.)
        const L exponent = (bits - 1) & 0x7ff0000000000000LL;
        V power;
        __builtin_memcpy(&power, &exponent, sizeof power);
        return power * 0x1p-53;
    }
    static V abs(V x)
    {
        L bits;
        __builtin_memcpy(&bits, &x, sizeof bits);
        bits &= 0x7fffffffffffffffLL;
        V y;
        __builtin_memcpy(&y, &bits, sizeof y);
        return y;
    }
    static double get(V v, int i) { return v[i]; }
    static void set(V& v, int i, double x) { v[i] = x; }
    template <typename M> static bool lane(M mask, int i) { return mask[i] != 0; }
};

// Ops provides: V (W doubles, or a double when W is 1), W, fma, root, any,
// halfUlp, abs, and lane access get / set / lane.
template <typename Ops>
struct Impl {
    using V = typename Ops::V;
    static constexpr int W = Ops::W;
    static constexpr int K = static_cast<int>(kLanes) / W; // vectors per row
    static constexpr double kError = 0x1p-80;

    struct DD {
        V hi, lo;
    };

    static V splat(double x) { return V{} + x; }
    static V load(const double* p)
    {
        V v;
        __builtin_memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(double* p, V v) { __builtin_memcpy(p, &v, sizeof v); }

    static DD mul(DD a, V bh, V bl)
    {
        const V p = a.hi * bh;
        V e = Ops::fma(a.hi, bh, -p);
        e = Ops::fma(a.hi, bl, e);
        e = Ops::fma(a.lo, bh, e);
        return {p, e};
    }
    // a - b, renormalised: the two-sum of a.hi and -b.hi.
    static DD sub(DD a, DD b)
    {
        const V s = a.hi - b.hi;
        const V bb = s - a.hi;
        V e = (a.hi - (s - bb)) - (b.hi + bb);
        e = e + a.lo - b.lo;
        const V hi = s + e;
        return {hi, e - (hi - s)};
    }
    // a + sign * b, renormalised.
    static DD add(DD a, DD b)
    {
        const V s = a.hi + b.hi;
        const V bb = s - a.hi;
        V e = (a.hi - (s - bb)) + (b.hi - bb);
        e = e + a.lo + b.lo;
        const V hi = s + e;
        return {hi, e - (hi - s)};
    }
    static DD neg(DD a) { return {-a.hi, -a.lo}; }


    // Rotate (s, c) by the angle whose sine and cosine are (S, C).
    static void rotate(DD& s, DD& c, DoubleDouble S, DoubleDouble C)
    {
        const V Sh = splat(S.hi), Sl = splat(S.lo), Ch = splat(C.hi), Cl = splat(C.lo);
        const DD ns = add(mul(s, Ch, Cl), mul(c, Sh, Sl));
        const DD nc = add(mul(c, Ch, Cl), neg(mul(s, Sh, Sl)));
        s = ns;
        c = nc;
    }

    // Calls use(sine, j0) with the correctly rounded sines of points j0 to
    // j0 + W - 1 of the run, for every row of lanes; lanes past the run's
    // count hold sines of the points after it, not rounded with care.
    template <typename Use>
    static void walk(const Run& run, Use use)
    {
        // The sines of the first two rows, point after point.
        double sh[2 * kLanes], sl[2 * kLanes];
        {
            DD s{splat(run.sinFirst.hi), splat(run.sinFirst.lo)};
            DD c{splat(run.cosFirst.hi), splat(run.cosFirst.lo)};
            for (std::size_t l = 0; l < 2 * kLanes; ++l) {
                sh[l] = Ops::get(s.hi, 0);
                sl[l] = Ops::get(s.lo, 0);
                rotate(s, c, run.sinStride, run.cosStride);
            }
        }
        const V twiceLeapHi = splat(2 * run.cosLeap.hi), twiceLeapLo = splat(2 * run.cosLeap.lo);
        const std::size_t rows = (run.count + kLanes - 1) / kLanes;
        // a holds the row in use, b the next; the step overwrites a with the
        // row after b.
        V ah[K], al[K], bh[K], bl[K];
        for (int k = 0; k < K; ++k) {
            ah[k] = load(sh + k * W);
            al[k] = load(sl + k * W);
            bh[k] = load(sh + kLanes + k * W);
            bl[k] = load(sl + kLanes + k * W);
        }
        const auto row = [&](std::size_t r, V* hi, V* lo, const V* nextHi, const V* nextLo) {
#pragma GCC unroll 8
            for (int k = 0; k < K; ++k) {
                const std::size_t j0 = r * kLanes + static_cast<std::size_t>(k * W);
                V sine = hi[k];
                const V margin = Ops::halfUlp(sine) - kError;
                const V off = Ops::abs(lo[k]);
                const auto unsure = off >= margin;
                if (Ops::any(unsure)) [[unlikely]]
                    for (int i = 0; i < W; ++i)
                        if (Ops::lane(unsure, i) && j0 + static_cast<std::size_t>(i) < run.count)
                            Ops::set(sine, i,
                                     quadrilo::correctSin(run.base + (run.first + static_cast<double>(j0 + i)) *
                                                                         run.stride));
                use(sine, j0);
                const DD after = sub(mul(DD{nextHi[k], nextLo[k]}, twiceLeapHi, twiceLeapLo), DD{hi[k], lo[k]});
                hi[k] = after.hi;
                lo[k] = after.lo;
            }
        };
        for (std::size_t r = 0; r < rows; r += 2) {
            row(r, ah, al, bh, bl);
            if (r + 1 < rows)
                row(r + 1, bh, bl, ah, al);
        }
    }

    static void terms(const Run& run, double m, bool reciprocal, double* t)
    {
        constexpr double h = 0.000001;
        if (reciprocal)
            walk(run, [&](V sine, std::size_t j0) { store(t + j0, (1.0 / Ops::root(1.0 - m * (sine * sine))) * h); });
        else
            walk(run, [&](V sine, std::size_t j0) { store(t + j0, Ops::root(1.0 - m * (sine * sine)) * h); });
    }

    static void sines(const Run& run, double* s)
    {
        walk(run, [&](V sine, std::size_t j0) { store(s + j0, sine); });
    }

    // n is a multiple of 8; four independent sums keep the adders busy.
    // x + 2^52 u rounds x to a multiple of u = 1 / scale, ties to even, as
    // long as x < 2^52 u, and its residual x - k u is exact (Fast2Sum); past
    // that, k u is never below 2^52 u, so a count that no longer fits still
    // shows it. Counting in multiples of u rather than scaling each term
    // saves a product and a maximum per term.
    static double units(const double* t, std::size_t n, double scale, bool* exact)
    {
        const double unit = 1.0 / scale;
        const V shifter = splat(0x1p52 * unit), half = splat(0.5 * unit);
        constexpr int U = 4;
        V sum[U] = {};
        auto tie = V{} != V{};
        const auto count = [&](V x, V& total) {
            const V k = (x + shifter) - shifter;
            tie = tie | (Ops::abs(x - k) == half);
            total += k;
        };
        std::size_t i = 0;
        for (; i + U * W <= n; i += U * W)
            for (int u = 0; u < U; ++u)
                count(load(t + i + u * W), sum[u]);
        for (; i < n; i += W)
            count(load(t + i), sum[0]);
        double total = 0.0;
        for (int u = 0; u < U; ++u)
            for (int l = 0; l < W; ++l)
                total += Ops::get(sum[u], l);
        *exact = !Ops::any(tie);
        return total * scale;
    }

    // The floor of the benchmarks: a square root and a division per pass,
    // in independent chains, and nothing else.
    static double floor(std::size_t passes)
    {
        constexpr int U = 4;
        V x[U], sum[U];
        for (int u = 0; u < U; ++u) {
            x[u] = splat(1.0 + u);
            sum[u] = V{};
        }
        for (std::size_t i = 0; i + U * W <= passes; i += U * W)
            for (int u = 0; u < U; ++u) {
                sum[u] += 1.0 / Ops::root(x[u]);
                x[u] += 1.0;
            }
        double total = 0.0;
        for (int u = 0; u < U; ++u)
            for (int l = 0; l < W; ++l)
                total += Ops::get(sum[u], l);
        return total;
    }
};

} // namespace
