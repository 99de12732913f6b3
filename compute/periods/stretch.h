// A first-kind stretch counted a period at a time: passes [a, a + P N) of
// one segment, in units u = 1 / scale of a sum S that stays in one binade
// throughout, so that each pass adds round(t / u) units (exact_sum.h), ties
// apart. N is a period of the stride (convergents.h): N sigma = M pi + eps.
//
// Residues. Pass a + i + p N lies at theta_i + p N sigma, exactly, the
// segment's points being exact (passes.h); as reals that is
// theta_i + p M pi + p eps, so |sin| there is |sin(theta_i + p eps)|. For
// each residue i < N the stretch holds P terms t_i(p), p < P, and the count
// is the sum over i of sum_p round(t_i(p) / u).
//
// Monotone chain. correctSin gives RN(sin), and RN is odd, so |s| =
// RN(|sin theta|) is non-decreasing in |sin theta|. Every later step, fl(s s),
// fl(m x) (m >= 0), fl(1 - x), sqrt, fl(1 / x) and fl(x h), is a single IEEE
// operation, monotone in its one varying operand, so t is non-decreasing in
// |sin theta|. This holds only if each step is rounded once, to double: the
// room is built without contraction, and x86-64 and arm64 keep no excess
// precision. round(x), ties to even, is non-decreasing too. So wherever
// theta_i + p eps stays between two multiples of pi / 2 for p in [lo, hi],
// p -> round(t_i(p) / u) is monotone there: if it is the same at lo and hi,
// and neither end is a tie, it is that value at every p between, and none of
// them is a tie. No derivative enters, and no bound on one.
//
// Pieces. Where the two ends differ, the piece is cut where the term's
// inverse puts the next half unit (a guess in doubles: the periods either
// side of it are looked at, and where they do not straddle it, each side is
// halved next), or failing that at a point interpolated towards it or at
// its middle, and each part is treated alike. The ends of a
// residue, p = 0 and P - 1, come from the kernels in runs of 2^15 residues
// (kernels.h: the same bits); most residues end there, their two ends sharing
// a clear level (a first, branch-free pass sorts them out).
//
// A point inside a residue first gets an estimate: |sin| from the residue's
// own sine and cosine (turned from its run's first point by a series for
// j sigma) and a series for p eps, all in doubles,
// within 2^-49; then 1 - m s^2 within 2^-47 and v = t / u within
// v (2^-45 / D + 2^-49), D a lower bound on 1 - m s^2 (Residue::estimate
// gives the steps). Where v's interval lies inside one level, clear of both
// half units, that is the term's level and it is no tie. Otherwise the term
// is made exactly: its sine turned from its run's first point, in
// double-double, by the hexadecimal digits of j strides and of p N strides
// (under 15 turns of 2^-102 and table entries within 2^-106:
// within 2^-94 in all), rounded where that leaves no doubt (the low part and
// the error below half the smaller gap to the high part's neighbours), and
// correctSin of the pass point itself where it does; the rest as the
// reference makes it.
//
// Extremum split. q_i = theta_i rem pi/2 (MPFR, to the double nearest, so
// within 2^-54) is found once a run and stepped by j sigma for its j-th
// residue (two more roundings, under 2^-53 together), and D = fl((P - 1) eps)
// is within 2^-51 |D| of the real drift; D is kept below 1/2, so the only
// multiple of pi / 2 that theta_i + p eps can reach is the one nearest
// theta_i. A residue whose interval [q, q + D], widened by the margin
// 2^-48 >= 2^-50 + 2^-51 |D|, holds 0 may cross it. The real crossing lies
// at p* = -q / eps within margin / |eps| of the computed one, so every p within
// g = ceil(margin / |eps|) + 1 of it gets its term made exactly, and the two
// pieces either side are monotone. Residues further away never cross.
//
// The same holds across an extremum with the extreme term in place of a
// crossing: t there is h (s = 0) or the largest term (|s| = 1), every term
// on either side lies between that and the piece's end, so if both ends and
// the extreme share a level, clearly, so does every term between.
//
// Ties. A tie's rounding depends on the parity of S before it. Every tie is
// a point whose level is looked at (a monotone piece with clear, equal ends
// holds none, and an estimate is never taken near a half unit), so none is
// missed. The count takes each at its even level, and afterwards settles
// them in pass order: the units before a tie are those of the whole periods
// before (each worker tallies every period's total as differences, modulo
// 2^64: only the parity counts), those of its own period's residues before
// it (counted again by the kernels), and the corrections of the ties before
// it; with S's parity there the tie goes up or down by one. Stretches of
// more than 2^20 periods are not tallied: they give the earliest period
// holding a tie, and the caller counts a shorter stretch and adds that period
// pass by pass.
//
// Binade. The count is the units of the whole stretch; S stays in its binade
// exactly when S / u plus the count stays below 2^53, every partial sum being
// smaller (terms are not negative). The caller checks that, and otherwise
// counts a shorter stretch, ending the binade pass by pass.
//
// Segments. A stretch lies inside one segment, where the points are exact
// multiples of one stride; it ends at the segment's end or before, and the
// passes after its last whole period, like those past a segment's last
// stretch, go pass by pass (the engine's blocks), as do segment boundaries.
//
// Infinite terms. A root of 0 (m = 1 and |s| = 1) is the largest term a
// monotone piece can hold, so it is one of its made ends or not in it at
// all; it is reported for the caller to raise the division by zero.
//
// The caller guarantees a stretch inside one segment, P >= 1, N < 2^40, a
// drift of at least 2^-60 and |(P - 1) eps| < 1/2, m in [0, 1], and a thread
// SineScratch on each worker and the caller.
#pragma once

#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"
#include "compute/periods/convergents.h"
#include "compute/threads/crew.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quadrilo {

using Units = unsigned __int128;

struct Stretch {
    Segment segment;           // the one its passes lie in
    std::uint64_t first = 0;   // its first pass
    Period period;             // N passes to a period
    std::uint64_t periods = 0; // P
    // Ties are settled in place in stretches of up to this many periods (a
    // table of 8 bytes a period and worker); longer ones report the first.
    std::uint64_t mostSettled = std::uint64_t{1} << 20;
};

struct StretchCount {
    Units units = 0;       // sum of round(t / u) over the stretch, ties aside
    bool infinite = false; // a term is infinite
    bool tie = false;
    std::uint64_t firstTie = 0;  // the earliest period holding a tie, if any
    std::uint64_t changes = 0;   // places where a residue's round(t / u) changes
    std::uint64_t madeTerms = 0; // terms made one at a time
    std::uint64_t splits = 0;    // residues split at an extremum
    std::uint64_t fromMpfr = 0;  // made terms whose sine took MPFR
    std::uint64_t estimates = 0; // terms whose level an estimate settled
    std::uint64_t settledTies = 0;
};

// Counts a stretch on the crew's workers, each with two buffers of
// kernel::kMaxRun + kernel::kMaxLanes doubles (`buffers[2 w]` and
// `buffers[2 w + 1]` for worker w). `goOn` is asked now and then, by one
// worker at a time; when it says no, the count stops and gives nothing.
std::optional<StretchCount> countStretch(const Stretch& stretch, double m, double scale, double startUnits,
                                         const kernel::Kernel& kernel, Crew& crew,
                                         const std::vector<double*>& buffers,
                                         const std::function<bool()>& goOn);

// The level round(v) that every v in [least, largest] shares, none of them a
// tie, if they share one (both finite): a stretch whose terms all lie there
// adds that many units a pass.
std::optional<double> sharedLevel(double least, double largest);

// sin(a + x) and cos(a + x) from sin a and cos a, |x| <= 1/2, in doubles,
// for the estimates: the series of sin x and cos x to x^15 and x^16 and
// three roundings leave each within 2^-51 of sine cos x + cosine sin x and
// cosine cos x - sine sin x.
double sineTurnedBy(double sine, double cosine, double x);
double cosineTurnedBy(double sine, double cosine, double x);

// The first-kind term of the pass point theta, as the reference makes it,
// and the same from its sine, correctly rounded.
double firstKindTerm(double theta, double m);
double termOfSine(double s, double m);

} // namespace quadrilo
