#include "compute/periods/bands.h"

#include "compute/exact/mp_memory.h"
#include "compute/exact/sine.h"
#include "compute/loop/rules.h"
#include "compute/periods/stretch.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
#include <new>
#include <numbers>

#include <mpfr.h>

namespace quadrilo {
namespace {

using Signed = boost::multiprecision::int256_t;

constexpr int kBits = 168; // K
const Big kOne = Big{1} << kBits;
// A start's error, in units of 2^-K, with a unit to spare.
constexpr int kStartSlack = 3;
constexpr mpfr_prec_t kPrecision = 256;

} // namespace

class BandNumbers {
public:
    BandNumbers()
    {
        installMpMemory();
        mpfr_inits2(kPrecision, pi_, x_, y_, static_cast<mpfr_ptr>(nullptr));
        mpz_init(z_);
        mpfr_const_pi(pi_, MPFR_RNDN);
    }
    ~BandNumbers()
    {
        mpfr_clears(pi_, x_, y_, static_cast<mpfr_ptr>(nullptr));
        mpz_clear(z_);
    }
    BandNumbers(const BandNumbers&) = delete;
    BandNumbers& operator=(const BandNumbers&) = delete;

    // x_ / pi as a whole part and K bits of fraction, rounded down; x_ is
    // lost.
    std::pair<std::int64_t, Big> overPi()
    {
        mpfr_div(x_, x_, pi_, MPFR_RNDN);
        mpfr_floor(y_, x_);
        const auto whole = static_cast<std::int64_t>(mpfr_get_d(y_, MPFR_RNDN)); // below 2^34
        mpfr_sub(x_, x_, y_, MPFR_RNDN);                                         // exact
        mpfr_mul_2ui(x_, x_, kBits, MPFR_RNDN);
        mpfr_get_z(z_, x_, MPFR_RNDD);
        std::uint64_t words[4] = {}; // the fraction is below 2^168
        mpz_export(words, nullptr, -1, sizeof words[0], 0, 0, z_);
        Big fraction = 0;
        for (int i = 3; i >= 0; --i)
            fraction = (fraction << 64) | words[i];
        check();
        return {whole, fraction};
    }

    // theta_j / pi, j counted from the segment's first pass.
    std::pair<std::int64_t, Big> pointOverPi(const Segment& segment, std::uint64_t pass)
    {
        // Exact: the stride's 53 bits times an index below 2^53, plus a base
        // whose last bit is no finer than the stride's, fit in 256.
        mpfr_set_d(x_, segment.stride, MPFR_RNDN);
        mpfr_mul_d(x_, x_, static_cast<double>(pass - segment.firstPass), MPFR_RNDN);
        mpfr_add_d(x_, x_, segment.base, MPFR_RNDN);
        return overPi();
    }

    // asin(e) / pi, e the midpoint of d > 0 and the double below it.
    Big edgeOverPi(double d)
    {
        mpfr_set_d(x_, std::nextafter(d, 0.0), MPFR_RNDN);
        mpfr_add_d(x_, x_, d, MPFR_RNDN); // exact
        mpfr_div_2ui(x_, x_, 1, MPFR_RNDN);
        mpfr_asin(x_, x_, MPFR_RNDN);
        return overPi().second; // below 1/2
    }

private:
    static void check()
    {
        if (tookFromReserve())
            throw std::bad_alloc();
    }

    mpfr_t pi_, x_, y_;
    mpz_t z_;
};

namespace {

// A whole double x >= 0, exactly: its 53 bits shifted.
Big bigOf(double x)
{
    int exponent = 0;
    const auto bits = static_cast<std::uint64_t>(std::ldexp(std::frexp(x, &exponent), 53));
    exponent -= 53;
    return exponent >= 0 ? Big{bits} << exponent : Big{bits >> -exponent};
}

// v in [0, 1/2) in units of 2^-K, rounded down: within two units.
Big toFixed(const DoubleDouble& v)
{
    const Big high = bigOf(std::ldexp(v.hi, kBits)); // whole: below 2^167, and 53 bits
    const double low = std::floor(std::ldexp(v.lo, kBits)); // |v.lo| <= ulp(v.hi) / 2
    return low >= 0 ? high + bigOf(low) : high - bigOf(-low);
}

// Chunks of up to 2^44 passes are counted in 128 bits, with K - 68 bits
// of fraction: 2^100 keeps their bracket for alpha under 2^-54, and the
// sums within 125 bits (floor_sum.h), sigma / pi being below 2^-21.
constexpr std::uint64_t kNarrow = std::uint64_t{1} << 44;
constexpr int kNarrowShift = 68;
// A stretch of up to so many such chunks is counted chunk by chunk, each
// with its own start, rather than in 256 bits, where a sum of 2^47 passes
// takes about 3.5 times one of 2^44 in 128 bits.
constexpr std::uint64_t kNarrowChunks = 3;
constexpr double kBigSums = 3.5;

using EdgeWords = std::array<std::uint64_t, 3>;

EdgeWords wordsOf(const Big& x)
{
    const auto word = [&](int i) { return static_cast<std::uint64_t>((x >> (64 * i)) & ~std::uint64_t{0}); };
    return {word(0), word(1), word(2)};
}

Big bigOf(const EdgeWords& x) { return (Big{x[2]} << 128) | (Big{x[1]} << 64) | x[0]; }

// x / 2^68, rounded down.
Wide narrowed(const EdgeWords& x)
{
    return (Wide{x[2] >> 4} << 64) | ((x[1] >> 4) | (x[2] << 60));
}

// x / 2^68, rounded down, for x below 2^196.
Wide narrowed(const Big& x)
{
    const Big high = x >> kNarrowShift;
    return (Wide{static_cast<std::uint64_t>(high >> 64)} << 64) | static_cast<std::uint64_t>(high & ~std::uint64_t{0});
}

struct Start {
    std::int64_t whole;
    Big fraction;
    Wide narrow; // fraction / 2^68, rounded down
    Start(std::int64_t whole, const Big& fraction) : whole(whole), fraction(fraction), narrow(narrowed(fraction)) {}
};

// The floor sums over alpha's bracket, [a - 1 - widening, a + 2 +
// widening] / 2^k, in U.
template <class U>
struct Slopes {
    FloorSums<U> low, high;
    Slopes(int k, const U& a, const U& widening)
        : low(U{1} << k, a - 1 - widening), high(U{1} << k, a + 2 + widening)
    {
    }
};

// F(beta) over j < n for beta = whole + f / 2^k, f in [lo, hi], alpha
// within its bracket: its value if both ends of the bracket agree. In U
// and its signed S, k bits.
template <class U, class S>
std::optional<S> floorSums(int k, std::int64_t whole, const S& lo, const S& hi, const Slopes<U>& slopes,
                           std::uint64_t n, std::uint64_t& sums)
{
    const U one = U{1} << k;
    const auto whole1 = static_cast<S>(one);
    S ends[2];
    for (int side = 0; side < 2; ++side) {
        S f = side == 0 ? lo : hi;
        S w = whole;
        while (f < 0)
            f += whole1, --w;
        while (f >= whole1)
            f -= whole1, ++w;
        ++sums;
        const auto sum = (side == 0 ? slopes.low : slopes.high)(n, static_cast<U>(f));
        if (!sum)
            return std::nullopt;
        ends[side] = S{n} * w + static_cast<S>(*sum);
    }
    if (ends[0] != ends[1])
        return std::nullopt;
    return ends[0];
}

// x below 2^128.
Wide wideOf(const Big& x)
{
    return (Wide{static_cast<std::uint64_t>(x >> 64)} << 64) | static_cast<std::uint64_t>(x & ~std::uint64_t{0});
}

// ceil(x / y), y > 0.
std::uint64_t stepsTo(Wide x, Wide y) { return static_cast<std::uint64_t>(x / y + (x % y != 0 ? 1 : 0)); }

struct Tie {
    std::uint64_t at;    // passes before it, from the count's first
    std::uint64_t level; // its half unit's, from below_
};

// The passes near the peaks whose terms reach the top half unit, and their
// units past it: one worker's.
class PeakRuns {
public:
    struct Window {
        Wide beta = 0, alpha = 0; // theta_first / pi and sigma / pi, mod 1, in units of 2^-128
        Wide low = 0, width = 0;  // the window's start, mod 1, and width; 0: every pass
        double top = 0.0;         // H_T, in units
        double base = 0.0;        // below + T: the units the edges give a pass past H_T
        double below = 0.0;
        std::uint64_t block = 0;  // passes whose units past the edges stay below 2^52 together
        std::uint64_t longest = kernel::kMaxRun; // passes whose units stay below 2^53 together
    };

    PeakRuns(const Segment& segment, std::uint64_t first, const Window& window, const kernel::Kernel& kernel,
             const kernel::Run& strides, double m, double scale)
        : segment_(segment), first_(first), window_(window), kernel_(kernel), run_(strides), m_(m),
          scale_(scale), terms_(kernel::kMaxRun + kernel::kMaxLanes)
    {
    }

    // The units past the edges' of the passes [from, from + n) counted from
    // the first, each tie at its low level and noted in `ties` (if any).
    Wide count(std::uint64_t from, std::uint64_t n, std::vector<Tie>* ties, const std::function<bool()>& goOn)
    {
        Wide units = 0;
        const Window& w = window_;
        for (std::uint64_t j = from, end = from + n; j < end;) {
            std::uint64_t length = end - j;
            if (w.width != 0) {
                const Wide y = w.beta + static_cast<Wide>(j) * w.alpha - w.low;
                if (y >= w.width) {
                    j += stepsTo(-y, w.alpha); // to the next half turn's window
                    continue;
                }
                length = std::min(length, stepsTo(w.width - y, w.alpha));
            }
            for (std::uint64_t at = j; at < j + length; at += w.longest) {
                if (!goOn())
                    return units;
                units += run(at, std::min(w.longest, j + length - at), ties);
            }
            j += length;
        }
        return units;
    }

    std::uint64_t passes = 0, runs = 0;

private:
    Wide run(std::uint64_t j, std::uint64_t n, std::vector<Tie>* ties)
    {
        startAt(j);
        run_.first = static_cast<double>(first_ + j - segment_.firstPass);
        run_.count = n;
        // In a window, the kernel counts round(v) as it makes the terms.
        const bool inWindow = window_.width != 0;
        bool exact = true;
        const double counted = kernel_.terms(run_, m_, Kind::First, inWindow ? scale_ : 0.0, terms_.data(), &exact);
        ++runs;
        passes += n;
        if (inWindow && exact) {
            // The run's passes that reach H_T are consecutive: less those
            // at either end that do not, and base for each of the rest.
            std::uint64_t from = 0, to = n;
            double outside = 0.0;
            const auto shortOf = [&](std::uint64_t i) {
                const double v = terms_[i] * scale_;
                if (v >= window_.top)
                    return false;
                outside += (v + 0x1p52) - 0x1p52;
                return true;
            };
            while (from < to && shortOf(from))
                ++from;
            while (to > from && shortOf(to - 1))
                --to;
            return static_cast<Wide>(static_cast<std::uint64_t>(counted) - static_cast<std::uint64_t>(outside) -
                                     (to - from) * static_cast<std::uint64_t>(window_.base));
        }
        // v >= H_T adds round(v) - base, or v - 1/2 - base at a tie, as
        // whole doubles: v is below 2^50, so v + 2^52 rounds it to the
        // nearest, ties to even, and a block's sums stay below 2^53. Below
        // H_T the nearest is at most base, and max(0, nearest - base) adds
        // nothing; a tie rounded up is set right after, in the rare block
        // that has one.
        Wide units = 0;
        const std::uint64_t block = window_.block;
        const double base = window_.base;
        for (std::uint64_t from = 0; from < n; from += block) {
            const std::uint64_t to = std::min(n, from + block);
            double sum[4] = {}, farthest[4] = {};
            std::uint64_t i = from;
            for (; i + 4 <= to; i += 4)
                for (std::uint64_t lane = 0; lane < 4; ++lane) {
                    const double v = terms_[i + lane] * scale_; // exact: scale is a power of two
                    const double nearest = (v + 0x1p52) - 0x1p52;
                    farthest[lane] = std::max(farthest[lane], std::abs(v - nearest));
                    sum[lane] += std::max(0.0, nearest - base);
                }
            for (; i < to; ++i) {
                const double v = terms_[i] * scale_, nearest = (v + 0x1p52) - 0x1p52;
                farthest[0] = std::max(farthest[0], std::abs(v - nearest));
                sum[0] += std::max(0.0, nearest - base);
            }
            units += static_cast<Wide>(static_cast<std::uint64_t>(sum[0] + sum[1]) +
                                       static_cast<std::uint64_t>(sum[2] + sum[3]));
            if (std::max(std::max(farthest[0], farthest[1]), std::max(farthest[2], farthest[3])) < 0.5)
                continue;
            for (i = from; i < to; ++i) {
                const double v = terms_[i] * scale_, nearest = (v + 0x1p52) - 0x1p52;
                if (v < window_.top || std::abs(v - nearest) != 0.5)
                    continue;
                if (nearest > v)
                    --units;
                if (ties)
                    ties->push_back({j + i, static_cast<std::uint64_t>(v - 0.5 - window_.below)});
            }
        }
        return units;
    }

    // The run's first sine: from MPFR every 32 runs, turned from the last
    // run's start in between.
    void startAt(std::uint64_t j)
    {
        if (turns_ >= 31 || j <= at_) {
            sinCosOfMultiple(segment_.point(first_ + j), 1, run_.sinFirst, run_.cosFirst);
            turns_ = 0;
        } else {
            const std::uint64_t gap = j - at_;
            Turn* found = nullptr;
            for (Turn& t : cache_)
                if (t.gap == gap)
                    found = &t;
            if (!found) {
                found = &cache_[next_++ % cache_.size()];
                found->gap = gap;
                sinCosOfMultiple(segment_.stride, gap, found->sine, found->cosine);
            }
            turn(run_.sinFirst, run_.cosFirst, found->sine, found->cosine);
            ++turns_;
        }
        at_ = j;
    }

    struct Turn {
        std::uint64_t gap = 0;
        DoubleDouble sine, cosine;
    };

    const Segment& segment_;
    std::uint64_t first_;
    Window window_;
    const kernel::Kernel& kernel_;
    kernel::Run run_;
    double m_, scale_;
    std::vector<double> terms_;
    std::uint64_t at_ = 0;
    int turns_ = 31;
    std::array<Turn, 4> cache_{};
    std::size_t next_ = 0;
};

} // namespace

// One worker's share of a count.
struct BandWork {
    const Bands& bands;
    const Segment& segment;
    Big alpha;
    BandNumbers numbers;
    std::uint64_t sums = 0, halved = 0;
    bool doubtful = false;
    // Made on first use: Euclid's steps over alpha's bracket.
    std::optional<Slopes<Wide>> narrowSlopes{};
    std::optional<Slopes<Big>> slopes{};

    // n + F(theta / pi - P) - F(theta / pi + P), the passes of [from, from +
    // n) in the band of every P between the two cuts' edges, if the brackets
    // show one value for all of them.
    std::optional<std::uint64_t> inBand(const Bands::Cut& low, const Bands::Cut& high, std::uint64_t n,
                                        const Start& start)
    {
        if (n <= kNarrow) {
            // Each value loses a unit or less by the shift; the edges' errors
            // round up.
            using S = __int128;
            const auto slack = [](const Bands::Cut& cut) {
                return kStartSlack + 2 + static_cast<S>(std::ceil(std::ldexp(cut.slack, -kNarrowShift)));
            };
            const auto f = static_cast<S>(start.narrow), lowEdge = static_cast<S>(narrowed(low.edge)),
                       highEdge = static_cast<S>(narrowed(high.edge));
            if (!narrowSlopes) // the widening is given in units of 2^-104
                narrowSlopes.emplace(kBits - kNarrowShift, narrowed(alpha), Wide{(bands.settings_.widening + 15) / 16});
            const auto minus = floorSums<Wide, S>(kBits - kNarrowShift, start.whole, f - highEdge - slack(high),
                                                  f - lowEdge + slack(low), *narrowSlopes, n, sums);
            const auto plus = minus ? floorSums<Wide, S>(kBits - kNarrowShift, start.whole, f + lowEdge - slack(low),
                                                         f + highEdge + slack(high), *narrowSlopes, n, sums)
                                    : std::nullopt;
            if (plus)
                return static_cast<std::uint64_t>(static_cast<S>(n) + *minus - *plus);
            return std::nullopt;
        }
        const auto slack = [](const Bands::Cut& cut) { return kStartSlack + Signed{cut.slack}; };
        const Signed f{start.fraction}, lowEdge{bigOf(low.edge)}, highEdge{bigOf(high.edge)};
        if (!slopes)
            slopes.emplace(kBits, alpha, Big{bands.settings_.widening} << 64);
        const auto minus = floorSums<Big, Signed>(kBits, start.whole, f - highEdge - slack(high),
                                                  f - lowEdge + slack(low), *slopes, n, sums);
        const auto plus = minus ? floorSums<Big, Signed>(kBits, start.whole, f + lowEdge - slack(low),
                                                         f + highEdge + slack(high), *slopes, n, sums)
                                : std::nullopt;
        if (plus)
            return static_cast<std::uint64_t>(Signed{n} + *minus - *plus);
        return std::nullopt;
    }

    // Passes in [from, from + n) whose s >= the cut's d, given theta_from / pi.
    std::uint64_t count(const Bands::Cut& cut, std::uint64_t from, std::uint64_t n, const Start& start)
    {
        if (cut.kind == Bands::Cut::All)
            return n;
        if (cut.kind == Bands::Cut::None || n == 0)
            return 0;
        if (const auto counted = inBand(cut, cut, n, start))
            return *counted;
        if (cut.slack > 2) {
            // The edge's own bracket may hold the point: MPFR's, within a
            // unit, first.
            Bands::Cut sharp = cut;
            sharp.edge = wordsOf(numbers.edgeOverPi(cut.at));
            sharp.slack = 2;
            return count(sharp, from, n, start);
        }
        if (n == 1) {
            doubtful = true;
            return 0;
        }
        ++halved;
        const std::uint64_t half = n / 2;
        const auto [whole, rest] = numbers.pointOverPi(segment, from + half);
        return count(cut, from, half, start) + count(cut, from + half, n - half, Start{whole, rest});
    }

    // The passes of [first, first + n) past both an edge and its tie
    // band's, chunk by chunk from their starts, when the bracket over both
    // shows that the tie band holds none: most tie bands are far narrower
    // than a pass's step.
    std::optional<std::uint64_t> countClear(const Bands::Edge& edge, std::uint64_t n,
                                            const std::vector<Start>& starts)
    {
        if (edge.above.kind != Bands::Cut::Band || edge.atLeast.kind != Bands::Cut::Band)
            return std::nullopt;
        std::uint64_t total = 0;
        for (std::size_t c = 0; c * bands.chunk_ < n; ++c) {
            const std::uint64_t length = std::min(bands.chunk_, n - c * bands.chunk_);
            const auto counted = inBand(edge.atLeast, edge.above, length, starts[c]);
            if (!counted)
                return std::nullopt;
            total += *counted;
        }
        return total;
    }

    // The same over any range, chunk by chunk.
    std::uint64_t countRange(const Bands::Cut& cut, std::uint64_t from, std::uint64_t n)
    {
        std::uint64_t total = 0;
        for (std::uint64_t at = from; at < from + n; at += bands.chunk_) {
            const auto [whole, fraction] = numbers.pointOverPi(segment, at);
            total += count(cut, at, std::min(bands.chunk_, from + n - at), Start{whole, fraction});
        }
        return total;
    }
};

Bands::Bands(double m, BandSettings settings, const kernel::Kernel* kernel)
    : m_(m), settings_(settings), kernel_(kernel)
{
}

double Bands::v(double s) const { return termOfSine(s, m_) * scale_; }

std::optional<std::uint64_t> Bands::levels(double scale, std::uint64_t most) const
{
    const double v0 = termOfSine(0.0, m_) * scale, v1 = termOfSine(1.0, m_) * scale;
    if (!std::isfinite(v1) || !(v1 < 0x1p50))
        return std::nullopt;
    const double k0 = std::ceil(v0 - 0.5), k1 = std::floor(v1 - 0.5);
    const double levels = k1 < k0 ? 0.0 : k1 - k0 + 1;
    if (levels > static_cast<double>(most))
        return std::nullopt;
    return static_cast<std::uint64_t>(levels);
}

namespace {

// How a count's edges are estimated at one scale: the half units, one
// each where v rises slowly, one for each double past `steep`, where it
// rises by more than a unit between neighbouring doubles (from 1/2 up 2^-53
// apart).
struct EdgeEstimate {
    double m, r; // r = h scale = v(0)
    double levels;
    double steep = 1.0;

    EdgeEstimate(double m, double scale, double levels) : m(m), r(kStep * scale), levels(levels)
    {
        const auto slope = [&](double s) { return r * m * s / std::pow(1.0 - m * s * s, 1.5); };
        if (!(slope(1.0 - 0x1p-53) > 0x1p53))
            return;
        double lo = 0.5, hi = 1.0 - 0x1p-53;
        for (int i = 0; i < 60; ++i) {
            const double mid = (lo + hi) / 2;
            (slope(mid) > 0x1p53 ? hi : lo) = mid;
        }
        steep = lo;
    }
    // Where v reaches the half unit `top` from the least term's: 1 past the largest.
    double reach(double top) const
    {
        const double h = std::ceil(r - 0.5) + top + 0.5, x = r / h;
        return std::min(1.0, std::sqrt(std::max(0.0, (1.0 - x * x) / m)));
    }
    double below(double top) const
    {
        const double upTo = std::min(top, levels), to = reach(upTo);
        if (to <= steep)
            return upTo;
        return std::min(upTo, (termOfSine(steep, m) - kStep) * r / kStep + 0x1p53 * (to - steep));
    }
};

} // namespace

double Bands::edgesOf(double scale) const { return edgesOf(scale, ~std::uint64_t{0}); }

double Bands::sumsWeight(std::uint64_t passes)
{
    const std::uint64_t chunks = (passes + kNarrow - 1) / kNarrow;
    return chunks <= kNarrowChunks ? static_cast<double>(std::max<std::uint64_t>(1, chunks)) : kBigSums;
}

double Bands::edgesOf(double scale, std::uint64_t top) const
{
    const auto levels = this->levels(scale, ~std::uint64_t{0});
    if (!levels)
        return INFINITY;
    return EdgeEstimate(m_, scale, static_cast<double>(*levels)).below(static_cast<double>(top));
}

BandPlan Bands::plan(double scale, double passes, const BandCosts& costs) const
{
    BandPlan best;
    const auto levels = this->levels(scale, ~std::uint64_t{0});
    if (!levels)
        return best;
    const EdgeEstimate estimate(m_, scale, static_cast<double>(*levels));
    const auto consider = [&](std::uint64_t top) {
        BandPlan plan;
        plan.top = top;
        plan.edges = estimate.below(static_cast<double>(top));
        if (top < *levels) {
            const double window = 1.0 - 2 * std::asin(estimate.reach(static_cast<double>(top))) / std::numbers::pi;
            plan.peakPasses = passes * window;
            if (window > 0)
                plan.peakRuns = passes * kStep / std::numbers::pi + 1 +
                                plan.peakPasses / static_cast<double>(kernel::kMaxRun);
        }
        plan.cost = plan.edges * costs.edge + plan.peakPasses * costs.pass + plan.peakRuns * costs.run;
        if (plan.cost < best.cost)
            best = plan;
    };
    consider(*levels);
    if (kernel_)
        for (double top = static_cast<double>(*levels) / 1.2; top >= 1; top /= 1.2)
            consider(static_cast<std::uint64_t>(top));
    return best;
}

// The least double s in [0, 1] with v(s) > h (or >= h), or NaN: v is
// non-decreasing on the doubles, in the order of their bits. The search
// steps out from `guess` by doubling strides until it brackets the answer,
// then halves.
double Bands::leastDouble(double h, bool strictly, double guess) const
{
    const auto holds = [&](std::uint64_t bits) {
        const double value = v(std::bit_cast<double>(bits));
        return strictly ? value > h : value >= h;
    };
    const std::uint64_t one = std::bit_cast<std::uint64_t>(1.0);
    if (!holds(one))
        return NAN;
    std::uint64_t lo = 0, hi = one; // !holds(lo - 1) or lo = 0; holds(hi)
    // Past 1.0 the bits are no longer in v's order, nor is -0.0.
    const std::uint64_t at = !std::isfinite(guess) ? one
                             : guess > 0.0         ? std::bit_cast<std::uint64_t>(std::min(guess, 1.0))
                                                   : 0;
    if (holds(at)) {
        hi = at;
        for (std::uint64_t stride = 1; hi > 0; stride *= 2) {
            const std::uint64_t next = hi > stride ? hi - stride : 0;
            if (!holds(next)) {
                lo = next + 1;
                break;
            }
            hi = next;
        }
    } else {
        lo = at + 1;
        for (std::uint64_t stride = 1; lo < one; stride *= 2) {
            const std::uint64_t next = std::min(one, lo + stride);
            if (holds(next)) {
                hi = next;
                break;
            }
            lo = next + 1;
        }
    }
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        if (holds(mid))
            hi = mid;
        else
            lo = mid + 1;
    }
    return std::bit_cast<double>(lo);
}

std::optional<BandCount> Bands::count(const Segment& segment, std::uint64_t first, std::uint64_t passes,
                                      double scale, double startUnits, Crew& crew,
                                      const std::function<bool()>& goOn, std::uint64_t top)
{
    assert(segment.stride > 0 && segment.stride < 0x1p-18);
    BandCount result;
    const auto levels = this->levels(scale, ~std::uint64_t{0});
    if (!levels) {
        result.doubtful = true;
        return result;
    }
    top = std::min(top, *levels);
    const bool peaks = top < *levels;
    if (peaks && !kernel_) {
        result.doubtful = true;
        return result;
    }
    if (!arcsine_)
        arcsine_.emplace();
    if (!ready(scale, top)) {
        scale_ = scale;
        top_ = top;
        below_ = static_cast<std::int64_t>(std::ceil(v(0.0) - 0.5));
        edges_ = {};
        edgesDone_ = false;
    }
    // Few enough edges are kept for the next stretches of S's binade; more
    // are made again for each walk over them.
    const double expected = edgesOf(scale, top);
    const bool keep = keeps(expected);
    result.levels = *levels;

    BandNumbers numbers;
    // alpha = sigma / pi, below 1: the point of a segment of one stride.
    const Big a = numbers.pointOverPi(Segment{0, 0.0, segment.stride, 2}, 1).second;

    // A stretch of a few narrow chunks is counted chunk by chunk.
    chunk_ = passes > kNarrow && passes <= kNarrowChunks * kNarrow ? std::min(settings_.chunk, kNarrow)
                                                                   : settings_.chunk;
    const std::uint64_t chunk = chunk_;
    std::vector<Start> starts;
    for (std::uint64_t at = first; at < first + passes; at += chunk) {
        const auto [whole, fraction] = numbers.pointOverPi(segment, at);
        starts.push_back({whole, fraction});
    }

    struct Share {
        Wide units = 0;
        std::uint64_t ties = 0;
        std::vector<Edge> tied; // edges whose tie band holds passes
        std::vector<Wide> before; // units before each tie
        std::uint64_t sums = 0, halved = 0, edges = 0;
        bool doubtful = false;
        std::vector<Edge> made;
        std::uint64_t peakPasses = 0, peakRuns = 0;
    };
    std::vector<Share> shares(crew.size());
    std::atomic<bool> outOfMemory{false};
    // Runs `visit(work, share, edge)` for every edge on the crew, the caller
    // asking goOn now and then; false when told to stop. Edges not kept are
    // made on the way, in blocks of half units dealt out in turn, as the
    // edges of a block can be far fewer than its half units.
    const auto walk = [&](const auto& visit) {
        std::atomic<bool> stop{false}, shortOfMemory{false};
        const std::uint64_t blocks = 64 * crew.size();
        crew.run([&](unsigned worker) {
            BandWork work{*this, segment, a, {}};
            Share& share = shares[worker];
            std::uint64_t seen = 0;
            const auto next = [&] {
                if (stop.load(std::memory_order_relaxed))
                    return false;
                if (worker == 0 && ++seen % 32 == 0 && !goOn())
                    stop.store(true, std::memory_order_relaxed);
                return !stop.load(std::memory_order_relaxed);
            };
            try {
                if (edgesDone_)
                    for (const std::vector<Edge>& part : edges_)
                        for (std::uint64_t i = worker; i < part.size() && next(); i += crew.size())
                            visit(work, share, part[i]);
                else {
                    if (keep)
                        share.made.reserve(static_cast<std::size_t>(expected * 1.05 / crew.size()) + 64);
                    for (std::uint64_t block = worker; block < blocks; block += crew.size())
                        for (std::uint64_t i = top * block / blocks, to = top * (block + 1) / blocks;
                             i < to && next();) {
                            const Edge edge = edgeOf(i, to, work.numbers);
                            if (keep && !shortOfMemory.load(std::memory_order_relaxed))
                                share.made.push_back(edge);
                            ++share.edges;
                            visit(work, share, edge);
                            i += edge.halfUnits;
                        }
                }
            } catch (const std::bad_alloc&) {
                shortOfMemory = true;
            }
            share.sums += work.sums, share.halved += work.halved;
            share.doubtful = share.doubtful || work.doubtful;
        });
        if (shortOfMemory.load())
            outOfMemory = true;
        if (!edgesDone_ && keep && !stop.load() && !shortOfMemory.load()) {
            try {
                edges_.clear();
                for (Share& share : shares)
                    edges_.push_back(std::move(share.made));
                edgesDone_ = true;
            } catch (const std::bad_alloc&) {
                edges_ = {};
            }
        }
        for (Share& share : shares)
            share.made = {};
        return !stop.load();
    };
    // Passes of [first, first + n) with s at or past the cut, from the
    // chunks' starts.
    const auto countBefore = [&](BandWork& work, const Cut& cut, std::uint64_t n) {
        std::uint64_t total = 0;
        for (std::size_t c = 0; c * chunk < n; ++c)
            total += work.count(cut, first + c * chunk, std::min(chunk, n - c * chunk), starts[c]);
        return total;
    };

    const bool madeBefore = edgesDone_;
    if (!walk([&](BandWork& work, Share& share, const Edge& edge) {
            if (edge.ties)
                if (const auto clear = work.countClear(edge, passes, starts)) {
                    share.units += static_cast<Wide>(*clear) * edge.halfUnits;
                    return;
                }
            const std::uint64_t above = countBefore(work, edge.above, passes);
            share.units += static_cast<Wide>(above) * edge.halfUnits;
            if (edge.ties) {
                const std::uint64_t ties = countBefore(work, edge.atLeast, passes) - above;
                if (ties != 0)
                    share.tied.push_back(edge);
                share.ties += ties;
            }
        }))
        return std::nullopt;
    // The passes near the peaks, past the edges: in pieces dealt out in
    // turn, each piece's units kept for settling ties.
    std::vector<Wide> pieceUnits;
    std::uint64_t pieceLength = passes;
    std::vector<Tie> peakTies;
    PeakRuns::Window window;
    kernel::Run strides;
    if (peaks && !outOfMemory) {
        window.beta = wideOf(starts[0].fraction >> (kBits - 128));
        window.alpha = wideOf(a >> (kBits - 128));
        window.below = static_cast<double>(below_);
        window.base = static_cast<double>(below_ + static_cast<std::int64_t>(top));
        window.top = window.base + 0.5;
        window.block = std::max<std::uint64_t>(
            1, std::min<double>(4096, std::floor(0x1p52 / (v(1.0) - window.base + 1))));
        window.longest = std::max<std::uint64_t>(
            1, std::min<double>(kernel::kMaxRun, std::floor(0x1p53 / (v(1.0) + 1))));
        const double ratio = kStep * scale / window.top;
        const double least = leastDouble(window.top, false, std::sqrt((1.0 - ratio * ratio) / m_));
        // asin of the double below it, at most the midpoint's, and less
        // 2^-40 of a half turn, far more than the double's few units of 2^-53.
        const double from =
            least > 0 ? std::asin(std::nextafter(least, 0.0)) / std::numbers::pi - settings_.peakMargin : 0.0;
        if (from > 0) {
            window.low = static_cast<Wide>(std::ldexp(from, 128));
            window.width = Wide{0} - 2 * window.low;
        }
        strides.base = segment.base;
        strides.stride = segment.stride;
        sinCosOfMultiple(segment.stride, 1, strides.sinStride, strides.cosStride);
        sinCosOfMultiple(segment.stride, static_cast<unsigned>(kernel_->lanes), strides.sinLeap, strides.cosLeap);

        pieceLength = (passes + 64 * crew.size() - 1) / (64 * crew.size());
        const std::uint64_t pieces = (passes + pieceLength - 1) / pieceLength;
        pieceUnits.assign(pieces, 0);
        std::atomic<bool> stop{false};
        std::vector<std::vector<Tie>> tiesOf(crew.size());
        crew.run([&](unsigned worker) {
            std::uint64_t seen = 0;
            const auto next = [&] {
                if (worker == 0 && ++seen % 64 == 0 && !goOn())
                    stop.store(true, std::memory_order_relaxed);
                return !stop.load(std::memory_order_relaxed);
            };
            try {
                PeakRuns runs(segment, first, window, *kernel_, strides, m_, scale);
                for (std::uint64_t c = worker; c < pieces && next(); c += crew.size())
                    pieceUnits[c] = runs.count(c * pieceLength, std::min(pieceLength, passes - c * pieceLength),
                                               &tiesOf[worker], next);
                shares[worker].peakPasses = runs.passes;
                shares[worker].peakRuns = runs.runs;
            } catch (const std::bad_alloc&) {
                outOfMemory = true;
            }
        });
        if (stop.load())
            return std::nullopt;
        for (const auto& some : tiesOf)
            peakTies.insert(peakTies.end(), some.begin(), some.end());
    }
    if (outOfMemory) {
        result.doubtful = true;
        return result;
    }
    for (const Wide units : pieceUnits)
        result.units += units;
    for (const Share& share : shares)
        result.peakPasses += share.peakPasses, result.peakRuns += share.peakRuns;
    // The units past the edges of the passes before `at`.
    const auto peakUnitsBefore = [&](std::uint64_t at) {
        Wide units = 0;
        if (pieceUnits.empty())
            return units;
        const std::uint64_t piece = at / pieceLength;
        for (std::uint64_t c = 0; c < piece; ++c)
            units += pieceUnits[c];
        PeakRuns runs(segment, first, window, *kernel_, strides, m_, scale);
        return units + runs.count(piece * pieceLength, at - piece * pieceLength, nullptr, [] { return true; });
    };
    result.edges = 0;
    if (madeBefore)
        for (const std::vector<Edge>& part : edges_)
            result.edges += part.size();
    for (const Share& share : shares)
        result.edges += share.edges;

    std::uint64_t ties = 0;
    std::vector<Edge> tied;
    result.units += static_cast<Wide>(passes) * static_cast<Wide>(below_);
    ties += peakTies.size();
    for (Share& share : shares) {
        result.units += share.units;
        ties += share.ties;
        tied.insert(tied.end(), share.tied.begin(), share.tied.end());
        share.tied.clear();
    }
    const auto gather = [&] {
        for (const Share& share : shares) {
            result.sums += share.sums;
            result.halved += share.halved;
            result.doubtful = result.doubtful || share.doubtful;
        }
    };
    if (ties == 0 || ties > settings_.mostTies) {
        gather();
        if (ties == 0 || result.doubtful)
            return result;
        // Too many to settle here: the first of them, for the caller.
        std::uint64_t firstTie = passes;
        for (const Tie& tie : peakTies)
            firstTie = std::min(firstTie, tie.at);
        BandWork work{*this, segment, a, {}};
        const auto tiesIn = [&](std::uint64_t n) {
            std::uint64_t count = 0;
            for (const Edge& edge : tied)
                count += countBefore(work, edge.atLeast, n) - countBefore(work, edge.above, n);
            return count;
        };
        std::uint64_t lo = 0, hi = tied.empty() ? 0 : firstTie - 1; // a tie lies in [first, first + hi]
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            if (tiesIn(mid + 1) > 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        result.tie = true;
        result.ties = ties;
        result.firstTie = tied.empty() ? firstTie : std::min(firstTie, lo);
        result.sums += work.sums;
        result.doubtful = result.doubtful || work.doubtful;
        return result;
    }

    // Each tie, found by halving its band's passes, and settled in pass
    // order from S's parity before it: the units of the passes before, each
    // tie among them at its low level, plus the earlier ties' corrections.
    std::vector<Tie> found = peakTies;
    {
        BandWork work{*this, segment, a, {}};
        const auto tiesIn = [&](const Edge& edge, std::uint64_t from, std::uint64_t n) {
            return work.countRange(edge.atLeast, first + from, n) - work.countRange(edge.above, first + from, n);
        };
        const auto find = [&](const auto& self, const Edge& edge, std::uint64_t from, std::uint64_t n,
                              std::uint64_t count) -> void {
            if (count == 0 || work.doubtful)
                return;
            if (n == 1) {
                found.push_back({from, edge.firstLevel});
                return;
            }
            const std::uint64_t half = n / 2, early = tiesIn(edge, from, half);
            self(self, edge, from, half, early);
            self(self, edge, from + half, n - half, count - early);
        };
        for (const Edge& edge : tied)
            find(find, edge, 0, passes, tiesIn(edge, 0, passes));
        result.sums += work.sums;
        result.doubtful = result.doubtful || work.doubtful;
    }
    std::sort(found.begin(), found.end(), [](const Tie& x, const Tie& y) { return x.at < y.at; });
    for (Share& share : shares)
        share.before.assign(found.size(), 0);
    if (!walk([&](BandWork& work, Share& share, const Edge& edge) {
            for (std::size_t t = 0; t < found.size(); ++t)
                share.before[t] += static_cast<Wide>(countBefore(work, edge.above, found[t].at)) * edge.halfUnits;
        }))
        return std::nullopt;
    gather();
    if (result.doubtful || outOfMemory || found.size() != ties) {
        result.doubtful = true;
        return result;
    }
    Wide corrections = 0;
    for (std::size_t t = 0; t < found.size(); ++t) {
        Wide before = static_cast<Wide>(found[t].at) * static_cast<Wide>(below_) + corrections +
                      peakUnitsBefore(found[t].at);
        for (const Share& share : shares)
            before += share.before[t];
        const Wide low = static_cast<Wide>(below_) + found[t].level; // v = low + 1/2
        // S + (low + 1/2) u goes to the even one of S + low u and S + (low + 1) u.
        if ((static_cast<Wide>(startUnits) + before + low) % 2 == 1)
            ++corrections;
    }
    result.units += corrections;
    result.ties = found.size();
    return result;
}

// The edge of the half unit H = below_ + i + 1/2, and of those after it,
// below `to`, that share its least double s with v(s) > H: every half unit
// that v steps over there, where it rises by more than one between doubles.
Bands::Edge Bands::edgeOf(std::uint64_t i, std::uint64_t to, BandNumbers& numbers) const
{
    const double h = static_cast<double>(below_ + static_cast<std::int64_t>(i)) + 0.5;
    const auto cutAt = [&](double d) {
        if (std::isnan(d))
            return Cut{Cut::None, d, {}, 0};
        if (d == 0.0)
            return Cut{Cut::All, d, {}, 0};
        const double below = std::nextafter(d, 0.0);
        Cut cut{Cut::Band, d, {}, 2};
        if (const auto fast = (*arcsine_)(DoubleDouble{d, (below - d) / 2}))
            cut.edge = wordsOf(toFixed(fast->value)), cut.slack = 2 + std::ceil(std::ldexp(fast->error, kBits));
        else
            cut.edge = wordsOf(numbers.edgeOverPi(d));
        return cut;
    };
    // Near where t = h / sqrt(1 - m s^2) reaches the half unit.
    const double ratio = kStep * scale_ / h;
    const double atLeast = leastDouble(h, false, std::sqrt((1.0 - ratio * ratio) / m_));
    const double above = leastDouble(h, true, atLeast);
    Edge edge;
    edge.firstLevel = i;
    edge.above = cutAt(above);
    edge.ties = !(above == atLeast || (std::isnan(above) && std::isnan(atLeast)));
    edge.atLeast = edge.ties ? cutAt(atLeast) : edge.above;
    if (edge.ties)
        return edge;
    // The half units below v(above) all have it as their least double past them.
    const double next = std::isnan(above) ? INFINITY : std::ceil(v(above) - 0.5) - static_cast<double>(below_);
    edge.halfUnits = static_cast<std::uint64_t>(std::min(next, static_cast<double>(to))) - i;
    return edge;
}

} // namespace quadrilo
