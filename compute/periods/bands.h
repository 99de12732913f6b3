// A first-kind stretch counted by bands: passes [a, a + n) of one segment,
// in units u = 1 / scale of a sum S that stays in one binade throughout, so
// that each pass adds round(t / u) units (exact_sum.h), ties apart; the
// same conditions as a stretch by periods (stretch.h), counted without
// visiting a pass.
//
// Levels. The term is a non-decreasing function of s = RN(|sin theta|)
// (stretch.h, the monotone chain), so v(s) = t scale is too, and a pass's
// units are round(v), the number of half units H = k + 1/2 below v, for v
// no tie. With v0 = v(0) and v1 = v(1), the passes' units are n k0, k0 =
// ceil(v0 - 1/2) the half units below v0, plus, for each half unit H in
// [v0, v1], the passes with v > H: those with s >= s_H, the least double
// with v(s_H) > H, found by bisection on the doubles of [0, 1] with v
// itself, so exactly. The passes with v = H, those with t_H <= s < s_H,
// t_H the least double with v >= H, are the ties. Where v steps over
// several half units between neighbouring doubles, near the peaks at
// nearly a right angle, they share s_H and t_H: one edge stands for all of
// them, and its count is taken once, times their number.
//
// Bands. s >= d > 0 exactly when |sin theta| exceeds e, the midpoint of d
// and the double below it: RN picks d or above past e, and |sin theta| is
// never e, the sine of a nonzero double being transcendental. With a =
// asin e in (0, pi/2), that is theta mod pi in (a, pi - a): with x =
// (theta - a) / pi, frac(x) < w = 1 - 2a/pi, that is floor(x) - floor(x - w)
// = 1, and x - w = (theta + a) / pi - 1. The segment's points are exact,
// theta_j = theta_0 + j sigma, so over j < n the count is
// n + F((theta_0 - a) / pi) - F((theta_0 + a) / pi), with
// F(beta) = sum over j < n of floor(beta + j sigma / pi).
//
// Floor sums. With K = 168 fraction bits, alpha = sigma / pi and theta_0 /
// pi come from MPFR (256 bits: within a unit of 2^-K, rounded down), and
// a / pi from ArcsineOverPi (arcsine.h) with its proven error, or where it
// gives none from MPFR; each is taken as a whole number over 2^K and
// widened to a bracket by its error and a unit more: alpha_lo <= alpha <=
// alpha_hi and beta_lo <= beta <= beta_hi, so that beta_lo + j alpha_lo <=
// beta + j alpha <= beta_hi + j alpha_hi for every j >= 0. floor is
// monotone, so the two floor sums of the bracket's ends (floor_sum.h,
// exact in 256 bits for a stretch of up to 2^54 passes, sigma / pi being
// below 2^-20) bound F; where they are equal, every term of each is
// floor(beta + j alpha), and F is exact. Where they differ, a point lies
// within the bracket of an integer (rare: the bracket is some 2^-70 wide
// for an edge near the peaks, 2^-90 elsewhere, and 2^-113 for alpha over
// 2^54 passes): the edge is first taken from MPFR, within a unit, and then
// the stretch is halved, each half getting its own start from MPFR and a
// narrower bracket, down to single passes; a pass still in doubt gives the
// stretch up, for the caller to count otherwise. Nothing is guessed. Up to
// 2^44 passes the same sums are taken in 128 bits, with each value cut to
// K - 68 = 100 bits (rounded down once more, its bracket a unit wider),
// some 7 times faster; a stretch of up to 6 times that is counted so, in
// chunks of 2^44 passes, each with its own start from MPFR.
//
// Ties. A tie's rounding depends on the parity of S before it. Where tie
// bands hold a few passes (up to 16), each is found by halving its band's
// passes with the same counts, and they are settled in pass order: the
// units before a tie are those of the passes before it, counted again over
// every edge, the ties among them at their low level, plus the earlier ties'
// corrections; S / u plus that plus the tie's low level, if odd, takes the
// tie up by one. Where there are more, the count gives the passes before
// the first, and the caller counts that shorter stretch and the tie pass by
// pass.
//
// Peaks. Near steep peaks the half units crowd: at nearly a right angle
// some 10^7 of them a binade of S at theta near 10^6, each an edge, where
// few passes reach them. So a count may stop its edges at a half unit
// H_T = below + T + 1/2 and count the units past it pass by pass instead,
// over the passes that reach it: those with s >= t_T, the least double with
// v(t_T) >= H_T, that is theta mod pi in (a_T, pi - a_T), a_T = asin of
// the midpoint below t_T: one run of passes at each peak. A pass there adds
// round(v) - below - T units past the edges' (none at H_T itself, nor
// below it), a tie at H_i adding i - T and its settling as any tie. The
// runs are found in fixed point, theta / pi mod 1 within 2^-70 and the
// window widened by 2^-40 either side, far more than both errors: every
// pass that reaches H_T lies in a run, and a pass of a run that does not
// adds nothing. Their terms come from the kernels (kernels.h), each run's
// first sine from MPFR or turned from the last run's start by at most 31
// turns (2^-102 each, the turns' sines 2^-106: within 2^-96 together).
// A window's a_T exceeds its margin, so a run lies in one arc of theta mod
// pi, short of the next peak's passes by 2 a_T less the margin: there |sin|
// rises to 1 and falls, and v with it (the monotone chain), and the passes
// that reach H_T are consecutive. So a run's units are the kernel's own
// count of round(v), made with the terms, less the rounded v of the passes
// at either end that fall short of H_T, less below + T for each of the
// rest; a run is at most 2^53 / (v1 + 1) passes, so that the count is
// exact. A run with a tie, or with no window (a_T within the margin), goes
// term by term, max(0, round(v) - below - T) each.
//
// Binade. As by periods: the caller checks that S / u plus the count stays
// below 2^53, and otherwise counts a shorter stretch.
//
// Infinite terms. v1 infinite (m = 1) gives no bands; the caller counts
// otherwise.
//
// The caller guarantees a segment of positive stride below 2^-18 (sigma / pi
// then below 2^-20, which keeps every floor sum within its width), at most
// 2^54 passes, theta_0 at least 1, m in [0, 1] and a scale at which v0 and
// v1 are below 2^50. A count without a kernel takes no top below the
// largest term's: it gives a doubtful count instead.
#pragma once

#include "compute/exact/arcsine.h"
#include "compute/exact/floor_sum.h"
#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"
#include "compute/threads/crew.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quadrilo {

class BandNumbers;

struct BandCount {
    Wide units = 0;      // sum of round(t / u), when no pass is a tie
    bool tie = false;    // too many ties to settle: then only firstTie and ties hold
    std::uint64_t ties = 0;     // settled in place, or found
    std::uint64_t firstTie = 0; // passes before the first tie
    bool doubtful = false; // a pass stayed within its bracket of a band's edge
    std::uint64_t levels = 0;   // half units between the least and largest term
    std::uint64_t edges = 0;    // distinct least doubles past them
    std::uint64_t sums = 0;     // floor sums taken
    std::uint64_t halved = 0;   // chunks halved for a doubtful bracket
    std::uint64_t peakPasses = 0; // passes whose terms were made, past the top edge
    std::uint64_t peakRuns = 0;   // runs of them
};

// Where a count of passes at a scale stops its edges (`top`, a half unit
// from the least term's), and what that should cost: its edges, and the
// passes and runs of passes near the peaks whose terms it makes.
struct BandPlan {
    std::uint64_t top = 0;
    double edges = 0.0;
    double peakPasses = 0.0;
    double peakRuns = 0.0;
    double cost = INFINITY;
};

// What a plan weighs, in any one unit: an edge, a pass near a peak, a run.
struct BandCosts {
    double edge = 1.0, pass = 1.0, run = 1.0;
};

// For the tests: shorter chunks, sigma / pi's bracket widened by so many
// units of 2^-104, fewer ties settled, fewer edges kept and wider windows
// at the peaks, so that chunks, halving, cuts, edges made again and runs
// that start and end short of the top show at lengths a test can check.
struct BandSettings {
    std::uint64_t chunk = std::uint64_t{1} << 54; // a stretch at most, now
    std::uint64_t widening = 0;
    std::uint64_t mostTies = 16; // settled in a stretch; past that, it gives the first
    double keptEdges = 0x1p20;   // 120 bytes each; past that, made again each walk
    double peakMargin = 0x1p-40; // of a half turn, either side of a peak's window
};

// The bands of one modulus, with the edges of the last scale counted at:
// S's binade changes far less often than the stretches.
class Bands {
public:
    // The kernel makes the terms near the peaks; without one, a count has
    // edges for every half unit.
    explicit Bands(double m, BandSettings settings = {}, const kernel::Kernel* kernel = nullptr);

    // The half units between the least and largest term at `scale`; none
    // where the largest is infinite or they number more than `most`.
    std::optional<std::uint64_t> levels(double scale, std::uint64_t most) const;
    // About how many distinct edges those half units have: as many, unless
    // v rises by more than a unit between neighbouring doubles, near the
    // peaks at nearly a right angle; then one for each double there.
    double edgesOf(double scale) const;
    // The same for the half units below `top` only.
    double edgesOf(double scale, std::uint64_t top) const;
    // The cheapest top for counts at `scale` (every half unit when there is
    // no kernel), over `passes` of about kStep, at these costs.
    BandPlan plan(double scale, double passes, const BandCosts& costs) const;
    // What an edge's floor sums cost over `passes`, against a stretch
    // counted in 128 bits at once.
    static double sumsWeight(std::uint64_t passes);
    // Whether a count keeps the edges it makes at `scale` for the next.
    bool keeps(double edges) const { return edges <= settings_.keptEdges; }
    // Whether the edges at `scale` below `top` are ready, from an earlier count.
    bool ready(double scale, std::uint64_t top) const { return scale == scale_ && top == top_; }

    // Counts the passes [first, first + passes) of `segment` on the crew's
    // workers, with edges below the half unit `top` (from the least term's;
    // any past the largest: all of them) and the terms past it made. `goOn`
    // is asked now and then, by the calling thread only; when it says no,
    // the count stops and gives nothing.
    std::optional<BandCount> count(const Segment& segment, std::uint64_t first, std::uint64_t passes,
                                   double scale, double startUnits, Crew& crew, const std::function<bool()>& goOn,
                                   std::uint64_t top = ~std::uint64_t{0});

private:
    // passes with s >= d: all of them (d = 0), none (no such d), or those
    // whose theta mod pi lies in (a, pi - a), a / pi = edge / 2^K.
    struct Cut {
        enum Kind : std::uint8_t { All, None, Band } kind = None;
        double at = 0;    // d
        std::array<std::uint64_t, 3> edge{}; // below 2^168, least word first: kept edges take half a Big's room
        double slack = 0; // edge's error, in units of 2^-K: a whole number
    };
    struct Edge {
        Cut above;   // v > H
        Cut atLeast; // v >= H; differs from `above` only at a tie
        bool ties = false;
        std::uint64_t firstLevel = 0; // H = below_ + firstLevel + 1/2
        std::uint64_t halfUnits = 1;  // H and those after it with the same cuts
    };

    double v(double s) const;
    Edge edgeOf(std::uint64_t i, std::uint64_t to, BandNumbers& numbers) const;
    double leastDouble(double h, bool strictly, double guess) const;

    double m_;
    BandSettings settings_;
    const kernel::Kernel* kernel_;
    std::optional<ArcsineOverPi> arcsine_; // made at the first count
    double scale_ = 0.0;
    std::uint64_t top_ = 0;  // of the edges made at scale_
    std::int64_t below_ = 0; // k0 at scale_
    std::uint64_t chunk_ = 0; // passes counted from one start, in this count
    std::vector<std::vector<Edge>> edges_; // as the workers made them
    bool edgesDone_ = false;

    friend struct BandWork;
};

} // namespace quadrilo
