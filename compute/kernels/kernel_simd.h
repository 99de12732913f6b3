// The kernels, written once over a vector type and compiled once for each
// instruction set by the kernel_*.cpp files. Everything here has internal
// linkage and calls no inline library code, so that nothing built for a wider
// instruction set can be shared with, and then run by, a narrower one.
//
// Sines by recurrence. Within a run the points are theta_j = a + j d exactly,
// and with L lanes and c = cos(L d),
//
//   sin(theta_{j+2L}) = 2 c sin(theta_{j+L}) - sin(theta_j),
//
// so each of the L lanes steps its sines forward as double-doubles, from its
// first two points, found by rotating the run's first point by d 2L - 1
// times (sin d, cos d and c come correctly rounded to 106 bits, so c is off
// by at most 2^-107; the first point's sine and cosine must be within 2^-96,
// and a rotation adds under 2^-102, so both rows start within 2^-95). A step
// errs by under 2^-102 (the product's error from FMA, the difference's from
// an exact two-sum), c's own error adds 2^-106 to every step, and an error
// made k steps before grows by at most k + 1 (the Chebyshev polynomials of
// the second kind at c are bounded so). A run of at most kMaxRun = 2^15 points and
// L >= 8 lanes is at most 2^12 rows: the steps leave under 2^-79, c under
// 2^-83 and the starting rows under 2^-82, so the sine is known to within
// E = 2^-78.
//
// Its correct rounding is the high part unless the low part lies within E of
// half the gap to the high part's neighbour on its side (Ziv's test); those
// few points get correctSin after the walk, which mends their terms and the
// count then (a call inside the loop would have the counter kept in memory,
// the callee being free to overwrite every vector register). Most runs are
// clear: their sines stay above mu >= 2^-6 in magnitude (clearance()), and
// the test is one multiply-add.
// fl(hi + lo (1 + eta)) == hi, with eta = 2^56 E / mu and the product
// rounded or not, means |lo| (1 + eta / 2) is at most half the gap g on lo's
// side, and as g >= |hi| 2^-53 >= mu 2^-53, |lo| + E then stays below g / 2.
// It flags about eta of the points, under 2^-16. In the other runs the
// margin comes from the high part's binade, and a high part of 0 is exact:
// the sine of a pass point other than 0 is far above E.
//
// In a clear run, neighbouring sines of a lane differ by at most L d, far
// below mu, so |fl(2c sin theta_{j+L})| >= |sin theta_j| at every step and
// the step's difference needs only Fast2Sum (3 additions instead of the
// two-sum's 6).
//
// The lanes are independent, so a row's steps overlap each other and the
// root and division. A row is two vectors (eight scalar lanes): the state
// then stays in registers, which measured faster than more lanes spilled to
// memory. A root of 0 gives an infinite term, left for the sum to show:
// every finite term is below 100 (the root of a nonzero 1 - m s^2 is at
// least 2^-27), so only an infinite term makes S infinite.
//
// The terms are counted as they are made, a few rows behind the newest, so
// that the counting never waits on a division: the adders have room for it
// then, where a separate pass over the block would read it all again.
#pragma once

#include "compute/kernels/kernels.h"

#include <type_traits>

namespace {

using quadrilo::DoubleDouble;
using quadrilo::kernel::kMaxLanes;
using quadrilo::kernel::Run;

// What a vector type needs beyond its instruction set's fma, root and any.
template <typename Vector, int Width>
struct Lanes {
    using V = Vector;
    static constexpr int W = Width;
    static constexpr int K = 2; // vectors a row
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

// Ops provides: V (W doubles, or a double when W is 1), W, K (vectors a
// row), fma, mulAdd (a b + c, rounded once or twice), root, any, halfUlp,
// abs, and lane access get / set / lane.
template <typename Ops>
struct Impl {
    using V = typename Ops::V;
    static constexpr int W = Ops::W;
    static constexpr int K = Ops::K;
    static constexpr std::size_t kLanes = static_cast<std::size_t>(K * W);
    static_assert(kLanes <= kMaxLanes);
    static_assert(quadrilo::kernel::kMaxRun / kLanes <= 1u << 12, "the error bound counts on 2^12 rows at most");
    static constexpr double kError = 0x1p-78;
    static constexpr double kClear = 0x1p-6;

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
    // a + b, renormalised.
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

    // The step of a clear run: B n - b with |fl(B.hi n.hi)| >= |b.hi|, so
    // that Fast2Sum gives the difference's error. The low parts' products,
    // near 2^-53, may be rounded once more than by FMA (mulAdd): that adds
    // under 2^-105 and leaves the step's error under 2^-102.
    static DD clearStep(DD n, V Bh, V Bl, DD b)
    {
        const V p = n.hi * Bh;
        const V q = Ops::fma(n.hi, Bh, -p);
        V e = Ops::mulAdd(n.lo, Bh, -b.lo);
        e = Ops::mulAdd(n.hi, Bl, e);
        const V s = p - b.hi;
        const V lost = b.hi + (s - p); // s - (p - b.hi), exactly
        e = (e + q) - lost;
        const V hi = s + e;
        return {hi, e - (hi - s)};
    }

    // Rotate (s, c) by the angle whose sine and cosine are (S, C).
    static void rotate(DD& s, DD& c, DoubleDouble S, DoubleDouble C)
    {
        const V Sh = splat(S.hi), Sl = splat(S.lo), Ch = splat(C.hi), Cl = splat(C.lo);
        const DD ns = add(mul(s, Ch, Cl), mul(c, Sh, Sl));
        const DD nc = add(mul(c, Ch, Cl), neg(mul(s, Sh, Sl)));
        s = ns;
        c = nc;
    }

    // A lower bound for |sin| at every point the run steps through, rows
    // past its count included, if it is at least kClear; 0 otherwise. The
    // sine moves by at most the distance, and the bound is shaved for the
    // first point's own error and for rounding here.
    static double clearance(const Run& run)
    {
        const std::size_t rows = (run.count + kLanes - 1) / kLanes + 2;
        const double reach = static_cast<double>(rows * kLanes) * run.stride * (1 + 0x1p-40);
        const double mu = (__builtin_fabs(run.sinFirst.hi) - reach) * (1 - 0x1p-40) - 0x1p-50;
        return mu >= kClear ? mu : 0.0;
    }

    // The vectors of a walk whose sines failed the rounding test, by their
    // first point and lanes, for correctSin after the walk.
    struct Unsure {
        static constexpr int kMax = 64;
        explicit Unsure(int deferrable) : room(deferrable < kMax ? deferrable : kMax) {}
        std::size_t at[kMax];
        unsigned lanes[kMax];
        int room;
        int n = 0;
        bool overflow = false; // more than room: the walk must be done again, correcting as it goes
        void note(std::size_t j0, unsigned mask)
        {
            if (n >= room) {
                overflow = true;
                return;
            }
            at[n] = j0;
            lanes[n++] = mask;
        }
        // Calls fix(j) for every point noted.
        template <typename Fix>
        void each(Fix fix) const
        {
            for (int v = 0; v < n; ++v)
                for (int i = 0; i < W; ++i)
                    if (lanes[v] >> i & 1u)
                        fix(at[v] + static_cast<std::size_t>(i));
        }
    };

    // Calls use(sine, j0) with the sines of points j0 to j0 + W - 1 of the
    // run, for every row of lanes; lanes past the run's count hold sines of
    // the points after it, not rounded with care. The sines are correctly
    // rounded, except those that `unsure` (when given) notes: those are
    // for the caller to correct.
    template <typename Use>
    static void walk(const Run& run, Use use, Unsure* unsure)
    {
        const double mu = clearance(run);
        if (mu != 0.0)
            walkRows<true>(run, 1.0 + 0x1p56 * kError / mu, use, unsure);
        else
            walkRows<false>(run, 0.0, use, unsure);
    }

    // The point j of the run, as the reference's counter holds it.
    static double point(const Run& run, std::size_t j)
    {
        return run.base + (run.first + static_cast<double>(j)) * run.stride;
    }

    // In a clear run, stretch is 1 + eta for the rounding test.
    template <bool Clear, typename Use>
    static void walkRows(const Run& run, double stretch, Use use, Unsure* unsure)
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
        const V stretched = splat(stretch);
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
                const auto doubtful = [&] {
                    if constexpr (Clear)
                        return Ops::mulAdd(lo[k], stretched, sine) != sine;
                    else
                        return Ops::abs(lo[k]) >= Ops::halfUlp(sine) - kError;
                }();
                if (Ops::any(doubtful)) [[unlikely]] {
                    unsigned mask = 0;
                    for (int i = 0; i < W; ++i)
                        if (Ops::lane(doubtful, i) && j0 + static_cast<std::size_t>(i) < run.count)
                            mask |= 1u << i;
                    if (unsure)
                        unsure->note(j0, mask);
                    else
                        for (int i = 0; i < W; ++i)
                            if (mask >> i & 1u)
                                Ops::set(sine, i, quadrilo::correctSin(point(run, j0 + static_cast<std::size_t>(i))));
                }
                use(sine, j0);
                const DD next{nextHi[k], nextLo[k]}, before{hi[k], lo[k]};
                const DD after = Clear ? clearStep(next, twiceLeapHi, twiceLeapLo, before)
                                       : sub(mul(next, twiceLeapHi, twiceLeapLo), before);
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

    // Counts terms in multiples of u = 1 / scale. x + 2^52 u rounds x to a
    // multiple k u, ties to even, as long as x < 2^52 u, and its residual
    // x - k u is exact (Fast2Sum); past that, k u is never below 2^52 u, so
    // a count that no longer fits still shows it. A tie is the one residual
    // of u / 2 exactly, the largest possible, so keeping the largest finds
    // it. (An infinite x leaves a residual of NaN, which the comparison
    // passes over; the infinite total shows it.)
    struct Counter {
        V shifter, half, total{}, largest{};
        explicit Counter(double scale) : shifter(splat(0x1p52 / scale)), half(splat(0.5 / scale)) {}
        void add(V x)
        {
            const V k = (x + shifter) - shifter;
            const V off = Ops::abs(x - k);
            largest = off > largest ? off : largest;
            total += k;
        }
    };
    static double totalOf(const Counter* counters, int n, double scale, bool* exact)
    {
        double total = 0.0;
        bool tie = false;
        for (int u = 0; u < n; ++u) {
            for (int l = 0; l < W; ++l)
                total += Ops::get(counters[u].total, l);
            tie = tie || Ops::any(counters[u].largest == counters[u].half);
        }
        *exact = !tie;
        return total * scale;
    }

    // The reference's term, rounded step by step as it rounds it.
    template <bool Reciprocal, typename T>
    static T term(T sine, double m)
    {
        constexpr double h = 0.000001;
        T r;
        if constexpr (std::is_same_v<T, double>)
            r = __builtin_sqrt(1.0 - m * (sine * sine));
        else
            r = Ops::root(1.0 - m * (sine * sine));
        return Reciprocal ? (1.0 / r) * h : r * h;
    }

    // The terms of the run, counted in units of 1 / scale as they are made
    // (a few rows behind the newest, so that the counting never waits on a
    // division). The sines that failed the rounding test are corrected
    // after the walk, and the count with them: the old term's multiple out,
    // the new one's in, exactly. A tie among the old terms only makes the
    // verdict inexact, which the caller then settles from the corrected
    // terms; an infinite term, old or new, has the run counted again.
    template <bool Reciprocal>
    static double termsOf(const Run& run, double m, double scale, double* t, bool* exact)
    {
        constexpr std::size_t lag = 4 * kMaxLanes; // terms
        const std::size_t made = (run.count + kLanes - 1) / kLanes * kLanes;
        const std::size_t padded = (run.count + W - 1) / W * W;
        // Without a scale the counting costs less than a test of it would.
        const double unit = scale != 0.0 ? scale : 1.0;
        Unsure unsure(run.deferrable);
        V total{}, largest{};
        {
            Counter counter(unit);
            walk(
                run,
                [&](V sine, std::size_t j0) {
                    store(t + j0, term<Reciprocal>(sine, m));
                    if (j0 >= lag)
                        counter.add(load(t + j0 - lag));
                },
                &unsure);
            // What the walk left, the lanes past the count as zeros.
            for (std::size_t j = run.count; j < padded; ++j)
                t[j] = 0.0;
            for (std::size_t i = made > lag ? made - lag : 0; i < padded; i += W)
                counter.add(load(t + i));
            total = counter.total;
            largest = counter.largest;
        }
        if (unsure.overflow) {
            walk(run, [&](V sine, std::size_t j0) { store(t + j0, term<Reciprocal>(sine, m)); }, nullptr);
            for (std::size_t j = run.count; j < padded; ++j)
                t[j] = 0.0;
            return scale != 0.0 ? units(t, padded, scale, exact) : 0.0;
        }
        double correction = 0.0; // in units, exact
        bool tie = false, infinite = false;
        const double shifter = 0x1p52 / unit, half = 0.5 / unit;
        unsure.each([&](std::size_t j) {
            const double before = t[j];
            const double after = term<Reciprocal>(quadrilo::correctSin(point(run, j)), m);
            t[j] = after;
            if (__builtin_isinf(before) || __builtin_isinf(after))
                infinite = true;
            const double kBefore = (before + shifter) - shifter, kAfter = (after + shifter) - shifter;
            correction += kAfter - kBefore;
            tie = tie || __builtin_fabs(after - kAfter) == half;
        });
        if (scale == 0.0)
            return 0.0;
        if (infinite)
            return units(t, padded, scale, exact);
        double sum = correction;
        for (int l = 0; l < W; ++l)
            sum += Ops::get(total, l);
        *exact = !(tie || Ops::any(largest == splat(half)));
        return sum * scale;
    }

    static double terms(const Run& run, double m, quadrilo::Kind kind, double scale, double* t, bool* exact)
    {
        return kind == quadrilo::Kind::First ? termsOf<true>(run, m, scale, t, exact)
                                             : termsOf<false>(run, m, scale, t, exact);
    }

    static void sines(const Run& run, double* s)
    {
        Unsure unsure(run.deferrable);
        walk(run, [&](V sine, std::size_t j0) { store(s + j0, sine); }, &unsure);
        if (unsure.overflow)
            walk(run, [&](V sine, std::size_t j0) { store(s + j0, sine); }, nullptr);
        else
            unsure.each([&](std::size_t j) { s[j] = quadrilo::correctSin(point(run, j)); });
    }

    // n is a multiple of 8; four counters keep the adders busy.
    static double units(const double* t, std::size_t n, double scale, bool* exact)
    {
        constexpr int U = 4;
        const Counter counter(scale);
        Counter counters[U] = {counter, counter, counter, counter};
        std::size_t i = 0;
        for (; i + U * W <= n; i += U * W)
            for (int u = 0; u < U; ++u)
                counters[u].add(load(t + i + u * W));
        for (; i < n; i += W)
            counters[0].add(load(t + i));
        return totalOf(counters, U, scale, exact);
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
