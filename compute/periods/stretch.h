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
// Pieces. Where the two ends differ, the piece is halved at a point found by
// interpolating towards the next half unit (a guess only) or, every other
// time, at its middle, and each half is treated alike, each new point's term
// made exactly: its sine correctSin of the pass point itself, the rest as the
// reference makes it. The ends of a residue, p = 0 and P - 1, come from the
// kernels in runs of 2^15 residues (kernels.h: the same bits).
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
// Ties. A tie's rounding depends on the parity of S before it. The count
// does not resolve them: it gives the earliest period holding one, and the
// caller counts a shorter stretch, which then holds none, and adds the tie's
// period pass by pass. Every tie is a point whose term is made (a monotone
// piece with clear, equal ends holds none), so none is missed.
//
// Binade. The count is the units of the whole stretch; S stays in its binade
// exactly when S / u plus the count stays below 2^53, every partial sum being
// smaller (terms are not negative). The caller checks that, and otherwise
// counts a shorter stretch, ending the binade pass by pass.
//
// Infinite terms. A root of 0 (m = 1 and |s| = 1) is the largest term a
// monotone piece can hold, so it is one of its made ends or not in it at
// all; it is reported for the caller to raise the division by zero.
//
// The caller guarantees a stretch inside one segment, P >= 1, N < 2^40, a
// drift of at least 2^-60 and |(P - 1) eps| < 1/2, m in [0, 1], and a thread
// SineScratch on each worker.
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
};

struct StretchCount {
    Units units = 0;       // sum of round(t / u) over the stretch, ties aside
    bool infinite = false; // a term is infinite
    bool tie = false;
    std::uint64_t firstTie = 0;  // the earliest period holding a tie, if any
    std::uint64_t changes = 0;   // places where a residue's round(t / u) changes
    std::uint64_t madeTerms = 0; // terms made one at a time
    std::uint64_t splits = 0;    // residues split at an extremum
};

// Counts a stretch on the crew's workers, each with two buffers of
// kernel::kMaxRun + kernel::kMaxLanes doubles (`buffers[2 w]` and
// `buffers[2 w + 1]` for worker w). `goOn` is asked now and then, by one
// worker at a time; when it says no, the count stops and gives nothing.
std::optional<StretchCount> countStretch(const Stretch& stretch, double m, double scale,
                                         const kernel::Kernel& kernel, Crew& crew,
                                         const std::vector<double*>& buffers,
                                         const std::function<bool()>& goOn);

// The first-kind term of the pass point theta, as the reference makes it.
double firstKindTerm(double theta, double m);

} // namespace quadrilo
