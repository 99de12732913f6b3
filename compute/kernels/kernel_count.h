// Counting a run's first-kind terms in units u = 1 / scale without forming
// them. Once the sum S is past a few units, the sum only needs each term's
// multiple k = round(t / u), and t / u carries some twenty bits more than k.
//
// Method. With m the double that the reference uses and D = 1 - m sin^2,
// D = (1 - m/2) + (m/2) cos 2theta, and the exact term in units is
// tau = hs / sqrt(D), hs = h scale (exact: scale is a power of two). So with
// K = fl(1 / fl(hs^2)), A = fl(K fl(1 - m/2)) and B = fl(K m / 2),
//
//   d'' = fl(A + p),  p ~ B cos 2theta,  x = rsqrt(d'') ~ tau,
//
// and a lane is counted as k = round(x) when |x - k| < (1 - 2^-50)/2 - rho X,
// rho a bound on |t / u - x| / x, t the reference's term, and X one on x over
// the run (a constant, so that the test costs no multiply). Then t / u lies
// within half a unit of k and is no tie: it rounds to k, exactly as the exact
// kernel counts it. Every other lane is noted, and after the walk gets its
// exact term, its sine from a double-double rotation with its own rounding
// test (correctSin only when that fails), its multiple and its tie counted as
// the exact kernel counts them.
//
// Order of operations, per lane of each row:
//   delta = fma(lambda, p, delta); p = p + delta        (the next row's p)
//   d = A + p; y = estimate(d), or the lane's x of the row before;
//   e = fma(-d, fl(y y), 1)
//   q = Horner(e) of the series of ((1 - e)^(-1/2) - 1) / e, to degree P - 1;
//   x = fma(fl(y e), q, y); k = x rounded to an integer, ties to even.
// p steps along each lane by Reinsch's form of the cosine recurrence, with
// lambda = fl(-4 fl(sin(L sigma)^2)) = 2 (cos delta - 1), delta = 2 L sigma the
// lane's angle step in 2theta; its two operations a row are stable for small
// steps, where the plain three-term form loses about 1 / delta. Every R = 256
// rows it restarts from each lane's double-double sine and cosine, turned
// forward by R L sigma (sine.h: turn).
//
// Error bound, eps = 2^-53, with c = (1 - D) / D and g = (m/2) / D taken at
// the run's least D, and the (1 + 2^-20) slack covering every product of
// (1 + small) factors:
// - The reference's term, t = fl(fl(1 / fl(sqrt(fl(1 - fl(m fl(s^2)))))) h),
//   s = RN(sin): m s^2 is off by 4 eps relatively, so 1 - m s^2 by
//   eps (1 + 4c), its root by half that plus eps, and the reciprocal and the
//   product add eps each: |t/u - tau| <= eps (3.5 + 2c) tau.
// - The recurrence (stepped): a rounding e_p of p answers after n steps with
//   at most e_p (1 + tan(delta/2)), a rounding e_d of delta with at most
//   n e_d (the recurrence's solutions are a cos + b sin, with b = e_d / sin
//   delta; |sin n delta| <= n sin delta). Each step rounds p by eps B and
//   delta by eps B delta. At the start, s = the sine's high part is within
//   eps, so cos 2theta = fl(fma(-2s, s, 1)) within 4.5 eps, and p within
//   5.5 eps B; delta = B (cos 2theta (1 - cos delta) - sin 2theta sin delta),
//   with sin 2theta = 2 s c (5 eps) and sin delta (3 eps), within
//   11 eps B delta; lambda's 3.1 eps shifts the phase by 1.6 eps delta a
//   step, and mismatches the start's delta by 3.1 eps B delta. Over n <= R
//   steps, in units of eps B:
//     Psi = (6.2 + n)(1 + tan(delta/2))(1 + 2^-20) + n delta (12 + 4.7)
//           + delta n (n + 2) / 2.
// - d'' against K D: K's two roundings (2 eps, so eps in x), A's two
//   (2 eps (1 - m/2) <= 2 eps D (1 + g)), B's (eps g D), p's Psi eps g D and
//   the sum's eps D: |d'' - K D| <= eps D K (3 + g (3 + Psi)).
// - The estimate and its correction (root): y = rsqrt(d)(1 + e0), |e0| <= E0
//   as the instruction set documents, so |e| <= 2 E0 + E0^2. Or, where y is
//   the lane's x of the row before (AVX2, whose estimate is single precision
//   only), d'' has moved since by at most B delta and two roundings and that
//   x was within 2^-50 of its root: |e| <= (g delta + 2^-50 / D + 2^-49)(1 + 2^-10);
//   each chunk's first row starts from fl(1 / fl(sqrt(d''))). The series left
//   out weighs a_{P+1} |e|^{P+1} / (1 - |e|), e's own rounding (eps (1 + 2|e|))
//   moves x by half of it, the Horner steps by (P + 1) |e| eps / 2, the last
//   fma by eps: Cy = 1.52 + (P + 1) |e| / 2 + a_{P+1} |e|^{P+1} / (eps (1 - |e|)),
//   about 2.07 for AVX-512's 2^-14 with P = 3, and at most 2.1 for AVX2's
//   |e| <= 2^-10.5 with P = 4 (runs where g delta passes that are declined).
// So |x - tau| <= rho_x tau, rho_x = eps (2.5 + Cy + g (3 + Psi) / 2), and
// rho = (eps (3.5 + 2c) + rho_x) / (1 - rho_x) bounds |t/u - x| / x.
//
// The caller guarantees a Run as kernels.h describes it (kMaxRun points at
// most, its sines to 2^-96 and 2^-106). The kernel itself declines (NaN) a run
// whose largest x could reach 2^50, whose K lies outside [2^-100, 2^100],
// whose least D is below 2^-40, or whose predicted refusals (2 rho x per lane)
// pass kRefusals a vector: there the exact kernel is cheaper. It also
// declines a run with more refused vectors than it can note.
#pragma once

#include "compute/exact/fused.h"
#include "compute/kernels/kernel_simd.h"

namespace {

// Ops adds to kernel_simd.h's: kDegree, the correction's; kLargestE, the
// largest |e| it takes; either estimate (a reciprocal square root within
// kEstimate relatively) or kFollows, which starts each lane from its x of
// the row before; and the masks' operations.
template <typename Ops>
struct Counting {
    using X = Impl<Ops>;
    using V = typename Ops::V;
    using M = typename Ops::Mask;
    static constexpr int W = Ops::W;
    static constexpr int K = Ops::kCountVectors; // a row
    static constexpr std::size_t kLanes = static_cast<std::size_t>(K * W);
    // The run's leap is the exact kernel's; this kernel's is it turned
    // kExtra strides further, each turn adding under 2^-102.
    static constexpr std::size_t kExtra = kLanes - X::kLanes;
    static_assert(kLanes >= X::kLanes && kExtra <= 8, "a row is at most eight lanes more than the exact kernel's");
    static constexpr double kEps = 0x1p-53;

    static constexpr int kRestartBits = 8;
    static constexpr std::size_t kRestart = std::size_t{1} << kRestartBits; // rows
    static constexpr int kRowBits = 12;
    static_assert(kRestartBits < kRowBits, "the restart turns by an entry of the table");
    static_assert(quadrilo::kernel::kMaxRun / kLanes <= (std::size_t{1} << kRowBits),
                  "a run's rows must be reachable by the table of turns");
    // The leap is within 2^-106 + 8 2^-102 < 2^-98; the turns' table doubles
    // it kRowBits - 1 times, each doubling at most doubling the error and
    // adding 2^-102, so its last entry is within 2^11 (2^-98 + 2^-102) < 2^-86
    // and a point's sine, from its lane's first (2^-95) and at most kRowBits
    // turns, within 2^-82.
    static_assert(kRowBits <= 12, "the fallback's sines count on at most 11 doublings");
    static constexpr double kSineError = 0x1p-80;

    // Predicted refused lanes a vector beyond which the exact kernel is
    // cheaper: a refusal costs a few hundred operations, a vector about 17.
    static constexpr double kRefusals = 0x1p-7;

    // a_k of (1 - e)^(-1/2) = sum a_k e^k, exact in binary.
    static constexpr double kSeries[] = {1.0, 0.5, 0.375, 0.3125, 0.2734375, 0.24609375, 0.2255859375};
    static_assert(Ops::kDegree >= 1 && Ops::kDegree + 1 < 7);

    // The bound on the correction's relative error, over eps, for |e| <= e.
    static constexpr double rootBound(double e)
    {
        double power = 1.0;
        for (int k = 0; k <= Ops::kDegree; ++k)
            power *= e;
        return (1.52 + (Ops::kDegree + 1) * e / 2 + kSeries[Ops::kDegree + 1] * power / (kEps * (1 - e))) *
               (1 + 0x1p-20);
    }

    struct Setup {
        quadrilo::kernel::CountProbe bound;
        DoubleDouble sinLeap, cosLeap; // of kLanes strides
        double lambda = 0.0, sinDelta = 0.0;
        bool go = false;
    };

    static double tanHalf(double delta) { return delta / 2 * (1 + delta * delta); } // tan(x) < x (1 + x^2) below 1

    static Setup setup(const Run& run, double m, double scale)
    {
        Setup s;
        auto& b = s.bound;
        b.lanes = kLanes;
        const double hs = 0.000001 * scale;
        b.K = 1.0 / (hs * hs);
        b.A = b.K * (1.0 - m / 2);
        b.B = b.K * m / 2;
        // The least D: |sin| moves by at most the distance stepped.
        const std::size_t rows = (run.count + kLanes - 1) / kLanes + 1;
        const double reach = static_cast<double>(rows * kLanes) * run.stride * (1 + 0x1p-40);
        double sine = (__builtin_fabs(run.sinFirst.hi) + reach) * (1 + 0x1p-40) + 0x1p-60;
        if (sine > 1.0)
            sine = 1.0;
        b.leastD = (1.0 - m * (sine * sine) * (1 + 0x1p-48)) * (1 - 0x1p-48);
        const double delta = 2 * static_cast<double>(kLanes) * run.stride * (1 + 0x1p-50);
        const double n = static_cast<double>(kRestart);
        b.stepped = (6.2 + n) * (1 + tanHalf(delta)) * (1 + 0x1p-20) + n * delta * (12 + 4.7) +
                    delta * n * (n + 2) / 2;
        b.stepped *= 1 + 0x1p-30;
        s.sinLeap = run.sinLeap;
        s.cosLeap = run.cosLeap;
        for (std::size_t i = 0; i < kExtra; ++i)
            quadrilo::turn(s.sinLeap, s.cosLeap, run.sinStride, run.cosStride);
        s.lambda = -4 * (s.sinLeap.hi * s.sinLeap.hi);
        s.sinDelta = 2 * s.sinLeap.hi * s.cosLeap.hi;
        b.declined = true;
        if (!(b.leastD >= 0x1p-40) || !(b.K <= 0x1p100) || !(b.K >= 0x1p-100))
            return s;
        const double c = (1 - b.leastD) / b.leastD, g = m / 2 / b.leastD;
        double largestE = 0.0;
        if constexpr (Ops::kFollows) {
            // From one row to the next d'' moves by |delta| <= B delta (1 + 2^-20)
            // and two roundings, relative to d'' >= K D (1 - 2^-40); the last
            // x is within 2^-50 of its own d'''s root.
            largestE = (g * delta * (1 + 0x1p-18) + 0x1p-50 / b.leastD + 0x1p-49) * (1 + 0x1p-10);
        } else {
            largestE = 2 * Ops::kEstimate + Ops::kEstimate * Ops::kEstimate;
        }
        b.root = rootBound(largestE);
        if (!(largestE <= Ops::kLargestE))
            return s;
        const double rhoX = kEps * (2.5 + b.root + g * (3 + b.stepped) / 2) * (1 + 0x1p-20);
        b.rho = (kEps * (3.5 + 2 * c) * (1 + 0x1p-20) + rhoX) / (1 - rhoX) * (1 + 0x1p-40);
        b.largestX = hs / __builtin_sqrt(b.leastD) * (1 + rhoX) * (1 + 0x1p-40);
        // Below this, |x - k| + rho x < (1 - 2^-50) / 2 for every x of the run,
        // whatever the rounding of its two operations.
        b.within = (0.5 * (1 - 0x1p-50) - b.rho * b.largestX * (1 + 0x1p-40)) * (1 - 0x1p-50);
        if (run.refuseAll)
            b.within = 0.0;
        s.go = b.largestX < 0x1p50 && 2 * b.rho * b.largestX * W <= kRefusals && (b.within > 0.25 || run.refuseAll);
        b.declined = !s.go;
        return s;
    }

    // Each lane's sine and cosine at its first point, and the turns by
    // 2^i rows (of L lanes each), i < kRowBits.
    struct Turns {
        DoubleDouble sine[kLanes], cosine[kLanes];
        DoubleDouble sinRows[kRowBits], cosRows[kRowBits];
        Turns(const Run& run, const Setup& setup)
        {
            DoubleDouble s = run.sinFirst, c = run.cosFirst;
            for (std::size_t l = 0; l < kLanes; ++l) {
                sine[l] = s;
                cosine[l] = c;
                quadrilo::turn(s, c, run.sinStride, run.cosStride);
            }
            sinRows[0] = setup.sinLeap;
            cosRows[0] = setup.cosLeap;
            for (int i = 1; i < kRowBits; ++i) {
                sinRows[i] = sinRows[i - 1];
                cosRows[i] = cosRows[i - 1];
                quadrilo::turn(sinRows[i], cosRows[i], sinRows[i - 1], cosRows[i - 1]);
            }
        }
        // The sine of lane l's point in row r, within 2^-82.
        DoubleDouble sineAt(std::size_t l, std::size_t r) const
        {
            DoubleDouble s = sine[l], c = cosine[l];
            for (int i = 0; r != 0; ++i, r >>= 1)
                if (r & 1)
                    quadrilo::turn(s, c, sinRows[i], cosRows[i]);
            return s;
        }
    };

    // The refused vectors, by row and lanes (bit k W + i for lane i of vector k).
    struct Refused {
        static constexpr int kMax = 64;
        std::size_t row[kMax];
        unsigned lanes[kMax];
        int n = 0;
        bool overflow = false;
    };

    template <bool Probe>
    static double walk(const Run& run, double m, double scale, const Setup& s, bool* exact, double* pOut,
                       double* xOut)
    {
        Turns turns(run, s);
        DoubleDouble sine[kLanes], cosine[kLanes];
        for (std::size_t l = 0; l < kLanes; ++l) {
            sine[l] = turns.sine[l];
            cosine[l] = turns.cosine[l];
        }
        const V A = X::splat(s.bound.A), lambda = X::splat(s.lambda), one = X::splat(1.0);
        const V within = X::splat(s.bound.within);
        V total{};
        Refused refused;
        const std::size_t rows = (run.count + kLanes - 1) / kLanes;
        V lane[K]; // each lane's index in its row
        for (int k = 0; k < K; ++k)
            for (int i = 0; i < W; ++i)
                Ops::set(lane[k], i, static_cast<double>(k * W + i));
        // Counts row r and steps p to the next; in the last row of a run
        // that ends inside it (Partial), lanes past the count are neither
        // counted nor refused.
        const auto row = [&]<bool Partial>(std::size_t r, V* p, V* delta, V* last) {
            M bad[K];
#pragma GCC unroll 8
            for (int k = 0; k < K; ++k) {
                const V d = A + p[k];
                V y;
                if constexpr (Ops::kFollows)
                    y = last[k];
                else
                    y = Ops::estimate(d);
                const V e = Ops::fma(-d, y * y, one);
                V q = X::splat(kSeries[Ops::kDegree]);
#pragma GCC unroll 8
                for (int i = Ops::kDegree - 1; i >= 1; --i)
                    q = Ops::fma(q, e, X::splat(kSeries[i]));
                const V x = Ops::fma(y * e, q, y); // y e beside the Horner steps
                if constexpr (Ops::kFollows)
                    last[k] = x;
                const V whole = Ops::nearest(x);
                bad[k] = Ops::notBelow(Ops::abs(x - whole), within);
                if constexpr (Partial) {
                    const M past = Ops::notBelow(lane[k], X::splat(static_cast<double>(run.count - r * kLanes)));
                    total = Ops::addUnless(total, Ops::either(bad[k], past), whole);
                    bad[k] = Ops::butNot(bad[k], past);
                } else {
                    total = Ops::addUnless(total, bad[k], whole);
                }
                if constexpr (Probe) {
                    X::store(pOut + r * kLanes + k * W, p[k]);
                    X::store(xOut + r * kLanes + k * W, x);
                }
                delta[k] = Ops::fma(lambda, p[k], delta[k]);
                p[k] = p[k] + delta[k];
            }
            M any = bad[0];
            for (int k = 1; k < K; ++k)
                any = Ops::either(any, bad[k]);
            if (Ops::anyOf(any)) [[unlikely]] {
                if (refused.n == Refused::kMax) {
                    refused.overflow = true;
                    return;
                }
                unsigned mask = 0;
                for (int k = 0; k < K; ++k)
                    mask |= Ops::bits(bad[k]) << (k * W);
                refused.row[refused.n] = r;
                refused.lanes[refused.n++] = mask;
            }
        };
        for (std::size_t r0 = 0; r0 < rows; r0 += kRestart) {
            V p[K], delta[K], last[K];
            {
                double ph[kLanes], dh[kLanes];
                for (std::size_t l = 0; l < kLanes; ++l) {
                    const double sh = sine[l].hi, ch = cosine[l].hi;
                    const double cos2 = quadrilo::fusedHere(-2 * sh, sh, 1.0);
                    const double sin2 = 2 * sh * ch;
                    ph[l] = s.bound.B * cos2;
                    // p - p one row back: B (cos 2theta (1 - cos delta) - sin 2theta sin delta)
                    dh[l] = s.bound.B * (-s.lambda / 2 * cos2 - sin2 * s.sinDelta);
                    quadrilo::turn(sine[l], cosine[l], turns.sinRows[kRestartBits], turns.cosRows[kRestartBits]);
                }
                for (int k = 0; k < K; ++k) {
                    p[k] = X::load(ph + k * W);
                    delta[k] = X::load(dh + k * W);
                    last[k] = one / Ops::root(A + p[k]); // within 2 eps
                }
            }
            const std::size_t end = r0 + kRestart < rows ? r0 + kRestart : rows;
            for (std::size_t r = r0; r < end; ++r)
                if (r + 1 < rows || run.count % kLanes == 0)
                    row.template operator()<false>(r, p, delta, last);
                else
                    row.template operator()<true>(r, p, delta, last);
        }
        if (refused.overflow)
            return __builtin_nan("");
        double units = 0.0;
        for (int l = 0; l < W; ++l)
            units += Ops::get(total, l);
        bool tie = false;
        for (int v = 0; v < refused.n; ++v)
            for (std::size_t l = 0; l < kLanes; ++l)
                if (refused.lanes[v] >> l & 1u) {
                    const std::size_t j = refused.row[v] * kLanes + l;
                    const double sine = sureSine(turns.sineAt(l, refused.row[v]), X::point(run, j));
                    const double t = X::template term<true>(sine, m) * scale;
                    const double whole = (t + 0x1p52) - 0x1p52;
                    tie = tie || __builtin_fabs(t - whole) == 0.5;
                    units += whole;
                }
        *exact = !tie;
        return units;
    }

    // The correctly rounded sine from one within kSineError: its high part
    // when both ends of that interval round to it, else correctSin.
    static double sureSine(DoubleDouble s, double theta)
    {
        const double up = s.hi + (s.lo + kSineError), down = s.hi + (s.lo - kSineError);
        return up == s.hi && down == s.hi ? s.hi : quadrilo::correctSin(theta);
    }

    static double count(const Run& run, double m, double scale, bool* exact)
    {
        const Setup s = setup(run, m, scale);
        if (!s.go)
            return __builtin_nan("");
        return walk<false>(run, m, scale, s, exact, nullptr, nullptr);
    }

    static quadrilo::kernel::CountProbe probe(const Run& run, double m, double scale, double* p, double* x)
    {
        const Setup s = setup(run, m, scale);
        bool exact = true;
        walk<true>(run, m, scale, s, &exact, p, x);
        return s.bound;
    }
};

} // namespace
