#include "compute/periods/bands.h"

#include "compute/exact/mp_memory.h"
#include "compute/exact/sine.h"
#include "compute/loop/rules.h"
#include "compute/periods/stretch.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
#include <new>

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

// x / 2^64, rounded down, for x below 2^192.
Wide narrowed(const Big& x)
{
    const Big high = x >> 64;
    return (Wide{static_cast<std::uint64_t>(high >> 64)} << 64) | static_cast<std::uint64_t>(high & ~std::uint64_t{0});
}

struct Start {
    std::int64_t whole;
    Big fraction;
    Wide narrow; // fraction / 2^64, rounded down
    Start(std::int64_t whole, const Big& fraction) : whole(whole), fraction(fraction), narrow(narrowed(fraction)) {}
};

// F(beta) over j < n for beta = whole + f / 2^k, f in [lo, hi], alpha
// within [a - 1 - widening, a + 2 + widening] / 2^k: its value if both ends
// of the bracket agree. In U and its signed S, k bits.
template <class U, class S>
std::optional<S> floorSums(int k, std::int64_t whole, const S& lo, const S& hi, const U& a, const U& widening,
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
        const auto sum = floorSum<U>(n, one, side == 0 ? a - 1 - widening : a + 2 + widening, static_cast<U>(f));
        if (!sum)
            return std::nullopt;
        ends[side] = S{n} * w + static_cast<S>(*sum);
    }
    if (ends[0] != ends[1])
        return std::nullopt;
    return ends[0];
}

// Stretches of up to 2^40 passes are counted in 128 bits, with K - 64 bits
// of fraction: 2^104 keeps their bracket for alpha under 2^-62.
constexpr std::uint64_t kNarrow = std::uint64_t{1} << 40;

} // namespace

// One worker's share of a count.
struct BandWork {
    const Bands& bands;
    const Segment& segment;
    Big alpha;
    BandNumbers numbers;
    std::uint64_t sums = 0, halved = 0;
    bool doubtful = false;
    Big widening = Big{bands.settings_.widening} << 64; // given in units of 2^-104
    Wide narrowAlpha = narrowed(alpha);

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
                return kStartSlack + 2 + static_cast<S>(std::ceil(std::ldexp(cut.slack, -64)));
            };
            const auto f = static_cast<S>(start.narrow), lowEdge = static_cast<S>(low.narrow),
                       highEdge = static_cast<S>(high.narrow);
            const Wide widening{bands.settings_.widening};
            const auto minus = floorSums<Wide, S>(kBits - 64, start.whole, f - highEdge - slack(high),
                                                  f - lowEdge + slack(low), narrowAlpha, widening, n, sums);
            const auto plus = minus ? floorSums<Wide, S>(kBits - 64, start.whole, f + lowEdge - slack(low),
                                                         f + highEdge + slack(high), narrowAlpha, widening, n, sums)
                                    : std::nullopt;
            if (plus)
                return static_cast<std::uint64_t>(static_cast<S>(n) + *minus - *plus);
            return std::nullopt;
        }
        const auto slack = [](const Bands::Cut& cut) { return kStartSlack + Signed{cut.slack}; };
        const Signed f{start.fraction}, lowEdge{low.edge}, highEdge{high.edge};
        const auto minus = floorSums<Big, Signed>(kBits, start.whole, f - highEdge - slack(high),
                                                  f - lowEdge + slack(low), alpha, widening, n, sums);
        const auto plus = minus ? floorSums<Big, Signed>(kBits, start.whole, f + lowEdge - slack(low),
                                                         f + highEdge + slack(high), alpha, widening, n, sums)
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
            sharp.edge = numbers.edgeOverPi(cut.at);
            sharp.narrow = narrowed(sharp.edge);
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

    // The passes past both an edge and its tie band's, when the bracket over
    // both shows that the tie band holds none: most tie bands are far
    // narrower than a pass's step.
    std::optional<std::uint64_t> countClear(const Bands::Edge& edge, std::uint64_t n, const Start& start)
    {
        if (edge.above.kind != Bands::Cut::Band || edge.atLeast.kind != Bands::Cut::Band)
            return std::nullopt;
        return inBand(edge.atLeast, edge.above, n, start);
    }

    // The same over any range, chunk by chunk.
    std::uint64_t countRange(const Bands::Cut& cut, std::uint64_t from, std::uint64_t n)
    {
        std::uint64_t total = 0;
        for (std::uint64_t at = from; at < from + n; at += bands.settings_.chunk) {
            const auto [whole, fraction] = numbers.pointOverPi(segment, at);
            total += count(cut, at, std::min(bands.settings_.chunk, from + n - at), Start{whole, fraction});
        }
        return total;
    }
};

Bands::Bands(double m, BandSettings settings) : m_(m), settings_(settings) {}

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

double Bands::edgesOf(double scale) const
{
    const auto levels = this->levels(scale, ~std::uint64_t{0});
    if (!levels)
        return INFINITY;
    // v's slope, rising on [0, 1); from 1/2 up the doubles are 2^-53 apart.
    const double r = kStep * scale;
    const auto slope = [&](double s) { return r * m_ * s / std::pow(1.0 - m_ * s * s, 1.5); };
    if (!(slope(1.0 - 0x1p-53) > 0x1p53))
        return static_cast<double>(*levels);
    double lo = 0.5, hi = 1.0 - 0x1p-53;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (slope(mid) > 0x1p53 ? hi : lo) = mid;
    }
    return std::min(static_cast<double>(*levels), (termOfSine(lo, m_) - kStep) * scale + 0x1p53 * (1.0 - lo));
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
                                      const std::function<bool()>& goOn)
{
    assert(segment.stride > 0 && segment.stride < 0x1p-18);
    BandCount result;
    const auto levels = this->levels(scale, ~std::uint64_t{0});
    if (!levels) {
        result.doubtful = true;
        return result;
    }
    if (!arcsine_)
        arcsine_.emplace();
    if (!ready(scale)) {
        scale_ = scale;
        below_ = static_cast<std::int64_t>(std::ceil(v(0.0) - 0.5));
        edges_ = {};
        edgesDone_ = false;
    }
    // Few enough edges are kept for the next stretches of S's binade; more
    // are made again for each walk over them.
    const bool keep = keeps(scale);
    result.levels = *levels;

    BandNumbers numbers;
    // alpha = sigma / pi, below 1: the point of a segment of one stride.
    const Big a = numbers.pointOverPi(Segment{0, 0.0, segment.stride, 2}, 1).second;

    const std::uint64_t chunk = settings_.chunk;
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
    };
    std::vector<Share> shares(crew.size());
    bool outOfMemory = false;
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
                    for (std::uint64_t i = worker; i < edges_.size() && next(); i += crew.size())
                        visit(work, share, edges_[i]);
                else
                    for (std::uint64_t block = worker; block < blocks; block += crew.size())
                        for (std::uint64_t i = *levels * block / blocks, to = *levels * (block + 1) / blocks;
                             i < to && next();) {
                            const Edge edge = edgeOf(i, to, work.numbers);
                            if (keep && !shortOfMemory.load(std::memory_order_relaxed))
                                share.made.push_back(edge);
                            ++share.edges;
                            visit(work, share, edge);
                            i += edge.halfUnits;
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
                std::vector<Edge> all;
                for (const Share& share : shares)
                    all.insert(all.end(), share.made.begin(), share.made.end());
                edges_ = std::move(all);
                edgesDone_ = true;
            } catch (const std::bad_alloc&) {
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
            if (edge.ties && starts.size() == 1)
                if (const auto clear = work.countClear(edge, passes, starts[0])) {
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
    if (outOfMemory) {
        result.doubtful = true;
        return result;
    }
    result.edges = madeBefore ? edges_.size() : 0;
    for (const Share& share : shares)
        result.edges += share.edges;

    std::uint64_t ties = 0;
    std::vector<Edge> tied;
    result.units = static_cast<Wide>(passes) * static_cast<Wide>(below_);
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
        BandWork work{*this, segment, a, {}};
        const auto tiesIn = [&](std::uint64_t n) {
            std::uint64_t count = 0;
            for (const Edge& edge : tied)
                count += countBefore(work, edge.atLeast, n) - countBefore(work, edge.above, n);
            return count;
        };
        std::uint64_t lo = 0, hi = passes - 1; // a tie lies in [first, first + hi]
        while (lo < hi) {
            const std::uint64_t mid = lo + (hi - lo) / 2;
            if (tiesIn(mid + 1) > 0)
                hi = mid;
            else
                lo = mid + 1;
        }
        result.tie = true;
        result.ties = ties;
        result.firstTie = lo;
        result.sums += work.sums;
        result.doubtful = result.doubtful || work.doubtful;
        return result;
    }

    // Each tie, found by halving its band's passes, and settled in pass
    // order from S's parity before it: the units of the passes before, each
    // tie among them at its low level, plus the earlier ties' corrections.
    struct Tie {
        std::uint64_t at;    // passes before it, from first
        std::uint64_t level; // its half unit's, from below_
    };
    std::vector<Tie> found;
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
        Wide before = static_cast<Wide>(found[t].at) * static_cast<Wide>(below_) + corrections;
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
            return Cut{Cut::None, d, 0, 0, 0};
        if (d == 0.0)
            return Cut{Cut::All, d, 0, 0, 0};
        const double below = std::nextafter(d, 0.0);
        Cut cut{Cut::Band, d, 0, 0, 2};
        if (const auto fast = (*arcsine_)(DoubleDouble{d, (below - d) / 2}))
            cut.edge = toFixed(fast->value), cut.slack = 2 + std::ceil(std::ldexp(fast->error, kBits));
        else
            cut.edge = numbers.edgeOverPi(d);
        cut.narrow = narrowed(cut.edge);
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
