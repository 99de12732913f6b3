#include "compute/periods/stretch.h"

#include "compute/exact/mp_memory.h"
#include "compute/exact/sine.h"
#include "compute/periods/easy.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cassert>
#include <cmath>
#include <mutex>
#include <new>
#include <utility>

#include <mpfr.h>

namespace quadrilo {
namespace {

constexpr double kMargin = 0x1p-48;


// theta rem pi/2, within 2^-54: theta below 2^34 and pi/2 to 192 bits leave
// the remainder some 150 bits before its rounding.
class Reducer {
public:
    Reducer()
    {
        installMpMemory();
        mpfr_inits2(192, halfPi_, x_, static_cast<mpfr_ptr>(nullptr));
        mpfr_const_pi(halfPi_, MPFR_RNDN);
        mpfr_div_2ui(halfPi_, halfPi_, 1, MPFR_RNDN);
        check();
    }
    ~Reducer() { mpfr_clears(halfPi_, x_, static_cast<mpfr_ptr>(nullptr)); }
    Reducer(const Reducer&) = delete;
    Reducer& operator=(const Reducer&) = delete;

    // The remainder, and whether the nearest multiple of pi/2 is an odd one,
    // a peak of |sin|, rather than a zero.
    std::pair<double, bool> operator()(double theta)
    {
        mpfr_set_d(x_, theta, MPFR_RNDN);
        long quotient = 0;
        mpfr_remquo(x_, &quotient, x_, halfPi_, MPFR_RNDN);
        check();
        return {mpfr_get_d(x_, MPFR_RNDN), (quotient & 1) != 0};
    }

private:
    static void check()
    {
        if (tookFromReserve())
            throw std::bad_alloc();
    }
    mpfr_t halfPi_, x_;
};

struct Level {
    double units; // round(v), ties to even
    bool tie;
};

// v >= 0 rounded to an integer, ties to even, by adding and taking away
// 2^52 (no call: nearbyint is one without SSE4.1); v - k is exact.
Level levelOf(double v)
{
    if (!(v < 0x1p52))
        return {v, false}; // already whole, or infinite
    const double k = (v + 0x1p52) - 0x1p52;
    return {k, std::abs(v - k) == 0.5};
}

// Levels stay below 2^53 wherever a count is taken: through 64 bits, as
// a double's conversion to 128 bits is a slow library call.
Units unitsOf(const Level& level) { return static_cast<std::uint64_t>(level.units); }

// Turns by n times an angle, for any n below 16^digits: one turn from a
// table a hexadecimal digit of n, each entry from MPFR (sine.h: within
// 2^-106, and each turn adds under 2^-102).
class Turns {
public:
    Turns(double angle, std::uint64_t times, int digits) : table_(static_cast<std::size_t>(digits) * 16)
    {
        for (int k = 0; k < digits; ++k)
            for (std::uint64_t j = 1; j < 16; ++j) {
                auto& [sine, cosine] = table_[static_cast<std::size_t>(k) * 16 + j];
                sinCosOfMultiple(std::ldexp(angle, 4 * k), j * times, sine, cosine);
            }
    }

    void apply(std::uint64_t n, DoubleDouble& sine, DoubleDouble& cosine) const
    {
        for (std::size_t k = 0; n != 0; ++k, n >>= 4)
            if (const std::size_t digit = n & 15; digit != 0)
                turn(sine, cosine, table_[k * 16 + digit].first, table_[k * 16 + digit].second);
    }

private:
    std::vector<std::pair<DoubleDouble, DoubleDouble>> table_;
};

// The sine's correct rounding from a double-double within kTurned of it:
// its high part, when the low part and that error together stay below half
// the smaller gap to hi's neighbours; NaN when they may not.
constexpr double kTurned = 0x1p-94; // 2^-106 + 15 turns of 2^-102 is under 2^-97

double roundedOrNan(const DoubleDouble& sine)
{
    const double a = std::abs(sine.hi);
    const double gap = a - std::nextafter(a, 0.0);
    if (std::abs(sine.lo) + kTurned < gap / 2)
        return sine.hi;
    return std::nan("");
}

struct Chunk {
    DoubleDouble sine, cosine; // of its first residue's first pass
    const Turns& residues;     // by the stride
    const Turns& periods;      // by N strides
};

// Easy residues are passed over this many at a time.
constexpr std::size_t kSkipped = 16;

bool allEasy(const std::int32_t* levels)
{
    std::int32_t any = 0;
    for (std::size_t j = 0; j < kSkipped; ++j)
        any |= levels[j];
    return any >= 0;
}

struct Tie {
    std::uint64_t period, residue;
    double below; // floor(t / u)
    bool operator<(const Tie& other) const
    {
        return period != other.period ? period < other.period : residue < other.residue;
    }
    bool operator==(const Tie& other) const { return period == other.period && residue == other.residue; }
};

// What a worker keeps to settle ties after the count: the total over all
// residues of each period, as differences from the period before (modulo
// 2^64, which is exact wherever the stretch fits), and the ties it met.
struct Tally {
    std::vector<std::uint64_t> steps; // [p]: T(p) - T(p - 1), for p <= P
    std::uint64_t constant = 0;       // of residues that keep one level throughout
    std::vector<Tie> ties;

    void spread(std::uint64_t lo, std::uint64_t hi, std::uint64_t units)
    {
        steps[lo] += units;
        steps[hi + 1] -= units;
    }
};

// One residue's terms along its periods.
class Residue {
public:
    // q: theta_i rem pi/2; nearPeak: whether that multiple of pi/2 is odd.
    Residue(const Stretch& stretch, std::uint64_t residue, const Chunk& chunk, std::uint64_t inChunk, double q,
            bool nearPeak, double m, double scale, StretchCount& count, Tally* tally)
        : segment_(stretch.segment), residue_(residue), pass_(stretch.first + residue),
          period_(stretch.period.passes), eps_(stretch.period.drift), chunk_(chunk), inChunk_(inChunk), q_(q),
          nearPeak_(nearPeak), m_(m), scale_(scale), count_(count), tally_(tally)
    {
    }

    // v(p) = t(p) / u, or an estimate of it that tells its level for sure
    // (and so is no tie).
    double at(std::uint64_t p)
    {
        if (!started_) {
            const double x = static_cast<double>(inChunk_) * segment_.stride;
            sine_ = sineTurnedBy(chunk_.sine.hi, chunk_.cosine.hi, x);
            cosine_ = cosineTurnedBy(chunk_.sine.hi, chunk_.cosine.hi, x);
            started_ = true;
        }
        if (const double v = estimate(p); !std::isnan(v)) {
            ++count_.estimates;
            return v;
        }
        return exactly(p);
    }

    // The estimate: |sin| = |s_i cos(p eps) + c_i sin(p eps)|, in doubles,
    // is within 2^-49: s_i and c_i are turned by j sigma from the run's
    // first point rounded to doubles, so within 2^-51 + 2^-52 each, which
    // the turn by p eps carries as at most sqrt(2) times that; p eps is
    // within 2^-53, and the series and its three roundings within 2^-51. So
    // 1 - m s^2 within 2^-47, and v within v (2^-45 / D + 2^-49), D a lower
    // bound on 1 - m s^2: generous bounds, as they only decide how often the
    // term is made after all. NaN where the level is in doubt.
    double estimate(std::uint64_t p) const
    {
        const double s = sineTurnedBy(sine_, cosine_, static_cast<double>(p) * eps_);
        const double d = 1 - m_ * (s * s);
        const double least = d - 0x1p-44;
        if (!(least > 0))
            return std::nan("");
        const double v = kStep * scale_ / std::sqrt(d);
        const double bound = v * (0x1p-45 / least + 0x1p-49);
        const double k = levelOf(v).units;
        return v - bound > k - 0.5 && v + bound < k + 0.5 ? v : std::nan("");
    }

    // v(p) made exactly: its sine turned from the residue's start, or from
    // MPFR where that cannot tell the rounding.
    double exactly(std::uint64_t p)
    {
        ++count_.madeTerms;
        DoubleDouble sine = chunk_.sine, cosine = chunk_.cosine;
        chunk_.residues.apply(inChunk_, sine, cosine);
        chunk_.periods.apply(p, sine, cosine);
        double s = roundedOrNan(sine);
        if (std::isnan(s)) {
            ++count_.fromMpfr;
            s = correctSin(segment_.point(pass_ + p * period_));
        }
        return termOfSine(s, m_) * scale_;
    }

    // The units of periods [lo, hi], with p -> t(p) monotone there and
    // v(lo), v(hi) given.
    Units piece(std::uint64_t lo, double vlo, std::uint64_t hi, double vhi, bool bisect = false)
    {
        const Level a = note(lo, vlo);
        if (lo == hi)
            return spread(lo, hi, a);
        const Level b = note(hi, vhi);
        if (count_.infinite)
            return 0;
        if (a.units == b.units && !a.tie && !b.tie)
            return spread(lo, hi, a);
        ++count_.changes;
        if (hi == lo + 1)
            return spread(lo, lo, a) + spread(hi, hi, b);
        const double target = a.units + (vhi > vlo ? 0.5 : -0.5);
        if (const double p = bisect ? NAN : crossing(target, lo, hi); std::isfinite(p)) {
            // Periods g and g + 1 either side of it: [lo, g] then keeps
            // v(lo)'s level, and the rest starts at the next one. Where they
            // do not, the pieces either side of g are halved first.
            const auto g = static_cast<std::uint64_t>(
                std::clamp(std::floor(p), static_cast<double>(lo), static_cast<double>(hi - 1)));
            const double vg = g == lo ? vlo : at(g), vnext = g + 1 == hi ? vhi : at(g + 1);
            const bool found = levelOf(vg).units == a.units && levelOf(vnext).units != a.units;
            return piece(lo, vlo, g, vg, !found) + piece(g + 1, vnext, hi, vhi, !found);
        }
        std::uint64_t mid = lo + (hi - lo) / 2;
        if (!bisect) {
            // Where a straight line between the ends meets the half unit next
            // to v(lo), in v's direction.
            const double target = a.units + (vhi > vlo ? 0.5 : -0.5);
            const double guess = static_cast<double>(lo) +
                                 (target - vlo) / (vhi - vlo) * static_cast<double>(hi - lo);
            if (std::isfinite(guess))
                mid = static_cast<std::uint64_t>(
                    std::clamp(std::floor(guess), static_cast<double>(lo + 1), static_cast<double>(hi - 1)));
        }
        const double vmid = at(mid);
        const Units both = piece(lo, vlo, mid, vmid, !bisect) + piece(mid, vmid, hi, vhi, !bisect);
        const Level twice = levelOf(vmid); // in both halves
        if (tally_)
            tally_->spread(mid, mid, -static_cast<std::uint64_t>(twice.units));
        return both - unitsOf(twice);
    }

    // The units of periods [lo, hi], all at one level, also in the tally.
    Units spread(std::uint64_t lo, std::uint64_t hi, const Level& level)
    {
        if (tally_)
            tally_->spread(lo, hi, static_cast<std::uint64_t>(level.units));
        return unitsOf(level) * (hi - lo + 1);
    }

private:
    // Where v(p) meets `target` between lo and hi, from the inverse of the
    // term: |sin| = sqrt((1 - (h scale / v)^2) / m), the angle q + p eps on
    // the side of the extremum that the piece lies on. A guess only, in
    // doubles; NaN where there is none.
    double crossing(double target, std::uint64_t lo, std::uint64_t hi) const
    {
        const double x = kStep * scale_ / target;
        const double sine = std::sqrt((1 - x * x) / m_);
        if (!(sine <= 1))
            return NAN;
        const double angle = nearPeak_ ? std::acos(sine) : std::asin(sine);
        const double middle = q_ + eps_ * (static_cast<double>(lo) + static_cast<double>(hi)) / 2;
        return ((middle < 0 ? -angle : angle) - q_) / eps_;
    }

    Level note(std::uint64_t p, double v)
    {
        if (std::isinf(v)) {
            count_.infinite = true;
            return {0.0, false};
        }
        const Level level = levelOf(v);
        if (level.tie) {
            if (!count_.tie || p < count_.firstTie) {
                count_.tie = true;
                count_.firstTie = p;
            }
            if (tally_)
                tally_->ties.push_back({p, residue_, level.units - (v > level.units ? 0.0 : 1.0)});
        }
        return level;
    }



    const Segment& segment_;
    std::uint64_t residue_, pass_;
    std::uint64_t period_;
    double eps_;
    const Chunk& chunk_;
    std::uint64_t inChunk_;
    double q_;
    bool nearPeak_;
    double m_, scale_;
    StretchCount& count_;
    Tally* tally_;
    bool started_ = false;
    double sine_ = 0, cosine_ = 0; // of the residue's first pass, for the estimates
};

kernel::Run runFrom(const kernel::Run& strides, const Segment& segment, std::uint64_t pass, std::size_t count)
{
    kernel::Run run = strides;
    run.first = static_cast<double>(pass - segment.firstPass);
    run.count = count;
    sinCosOfMultiple(segment.point(pass), 1, run.sinFirst, run.cosFirst);
    return run;
}

void merge(StretchCount& into, const StretchCount& part)
{
    into.units += part.units;
    into.infinite = into.infinite || part.infinite;
    if (part.tie && (!into.tie || part.firstTie < into.firstTie)) {
        into.tie = true;
        into.firstTie = part.firstTie;
    }
    into.changes += part.changes;
    into.madeTerms += part.madeTerms;
    into.splits += part.splits;
    into.fromMpfr += part.fromMpfr;
    into.estimates += part.estimates;
}

} // namespace

namespace {

// sin x and cos x, |x| <= 1/2, by their series to x^15 and x^16.
std::pair<double, double> seriesOf(double x)
{
    const double x2 = x * x;
    const double sinX = x * (1 + x2 * (-1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880 +
                        x2 * (-1.0 / 39916800 + x2 * (1.0 / 6227020800 + x2 * (-1.0 / 1307674368000))))))));
    const double cosX = 1 + x2 * (-0.5 + x2 * (1.0 / 24 + x2 * (-1.0 / 720 + x2 * (1.0 / 40320 +
                        x2 * (-1.0 / 3628800 + x2 * (1.0 / 479001600 + x2 * (-1.0 / 87178291200)))))));
    return {sinX, cosX};
}

} // namespace

std::optional<double> sharedLevel(double least, double largest)
{
    const Level low = levelOf(least), high = levelOf(largest);
    if (!std::isfinite(least) || !std::isfinite(largest) || low.tie || high.tie || low.units != high.units)
        return std::nullopt;
    return low.units;
}

double sineTurnedBy(double sine, double cosine, double x)
{
    const auto [sinX, cosX] = seriesOf(x);
    return sine * cosX + cosine * sinX;
}

double cosineTurnedBy(double sine, double cosine, double x)
{
    const auto [sinX, cosX] = seriesOf(x);
    return cosine * cosX - sine * sinX;
}

double termOfSine(double s, double m)
{
    const double r = std::sqrt(1.0 - m * (s * s));
    return 1.0 / r * kStep;
}

double firstKindTerm(double theta, double m) { return termOfSine(correctSin(theta), m); }

namespace {

// Each tie in pass order: the units before it, as counted (every tie at its
// nearest even level) plus the corrections of the ties before, give S's
// parity there, and with it the tie's own rounding. The units of the whole
// periods before come from the tallies; those of its own period's residues
// before it, from the kernels, counted (their ties at the even level too).
void settleTies(const Stretch& stretch, double m, double scale, double startUnits, const kernel::Kernel& kernel,
                const kernel::Run& strides, std::vector<Tally>& tallies, double* buffer, StretchCount& total)
{
    std::vector<Tie> ties;
    std::vector<std::uint64_t> steps(stretch.periods + 1, 0);
    std::uint64_t constant = 0;
    for (Tally& tally : tallies) {
        ties.insert(ties.end(), tally.ties.begin(), tally.ties.end());
        for (std::size_t p = 0; p < steps.size(); ++p)
            steps[p] += tally.steps[p];
        constant += tally.constant;
    }
    std::sort(ties.begin(), ties.end());
    ties.erase(std::unique(ties.begin(), ties.end()), ties.end());

    // Modulo 2^64 throughout: only the parity is wanted.
    const auto start = static_cast<std::uint64_t>(startUnits);
    std::uint64_t wholePeriods = 0, period = constant, corrections = 0;
    std::uint64_t p = 0;
    period += steps[0];
    std::int64_t settled = 0;
    for (const Tie& tie : ties) {
        for (; p < tie.period; ++p) {
            wholePeriods += period;
            period += steps[p + 1];
        }
        std::uint64_t before = 0;
        const std::uint64_t n = stretch.period.passes;
        for (std::uint64_t i = 0; i < tie.residue; i += kernel::kMaxRun) {
            const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(kernel::kMaxRun, tie.residue - i));
            bool exact = true;
            before += static_cast<std::uint64_t>(kernel.terms(
                runFrom(strides, stretch.segment, stretch.first + i + tie.period * n, size), m, Kind::First, scale,
                buffer, &exact));
        }
        const bool odd = ((start + wholePeriods + before + corrections) & 1) != 0;
        const bool belowEven = std::fmod(tie.below, 2.0) == 0.0;
        // Counted at the even one of below and below + 1; S odd makes
        // below + S odd exactly when below is even, and the sum goes up.
        std::int64_t correction = 0;
        if (odd)
            correction = belowEven ? 1 : -1;
        corrections += static_cast<std::uint64_t>(correction);
        settled += correction;
    }
    total.units += static_cast<Units>(static_cast<__int128>(settled));
    total.tie = false;
    total.settledTies = ties.size();
}

} // namespace

std::optional<StretchCount> countStretch(const Stretch& stretch, double m, double scale, double startUnits,
                                         const kernel::Kernel& kernel, Crew& crew,
                                         const std::vector<double*>& buffers,
                                         const std::function<bool()>& goOn)
{
    const Segment& segment = stretch.segment;
    const std::uint64_t n = stretch.period.passes, periods = stretch.periods;
    const double eps = stretch.period.drift;
    const double sigma = segment.stride;
    assert(periods >= 1 && n >= 1 && std::abs(eps) >= 0x1p-60);
    assert(stretch.first >= segment.firstPass &&
           stretch.first + n * periods <= segment.firstPass + segment.count);
    const double drift = static_cast<double>(periods - 1) * eps;
    assert(std::abs(drift) < 0.5);
    const double guard = std::ceil(kMargin / std::abs(eps)) + 1;
    // The largest term, at |s| = 1; infinite where m = 1.
    const double largest = 1.0 / std::sqrt(1.0 - m) * kStep;

    kernel::Run strides;
    strides.base = segment.base;
    strides.stride = sigma;
    sinCosOfMultiple(sigma, 1, strides.sinStride, strides.cosStride);
    sinCosOfMultiple(sigma, static_cast<unsigned>(kernel.lanes), strides.sinLeap, strides.cosLeap);

    constexpr std::uint64_t kChunk = kernel::kMaxRun; // 16^4 residues at most
    static_assert(kChunk <= 0x10000);
    assert(periods <= (std::uint64_t{1} << 40));
    const Turns byStride(sigma, 1, 4), byPeriod(sigma, n, 10);

    const EasyResiduesFn sortEasy = easyResiduesFor(kernel.isa);
    const std::uint64_t chunks = (n + kChunk - 1) / kChunk;
    std::atomic<std::uint64_t> next{0};
    std::atomic<bool> stopped{false};
    std::mutex asking, merging;
    StretchCount total;
    // Ties are settled afterwards from each period's total, where that
    // table is small enough; elsewhere the caller cuts the stretch short.
    const bool settling = periods <= stretch.mostSettled;
    std::vector<Tally> tallies(settling ? crew.size() : 0);

    crew.run([&](unsigned worker) {
        double* const first = buffers[2 * worker];
        double* const last = buffers[2 * worker + 1];
        Reducer reduce;
        std::vector<std::int32_t> levels(kChunk);
        StretchCount count;
        Tally* tally = nullptr;
        if (settling) {
            tally = &tallies[worker];
            tally->steps.assign(periods + 1, 0);
        }
        for (std::uint64_t chunk; !stopped.load(std::memory_order_relaxed) &&
                                  (chunk = next.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
            const std::uint64_t i0 = chunk * kChunk;
            const std::size_t size = static_cast<std::size_t>(std::min(kChunk, n - i0));
            const std::uint64_t pass = stretch.first + i0;
            const kernel::Run run = runFrom(strides, segment, pass, size);
            kernel.terms(run, m, Kind::First, 0.0, first, nullptr);
            const Chunk start{run.sinFirst, run.cosFirst, byStride, byPeriod};
            if (periods > 1)
                kernel.terms(runFrom(strides, segment, pass + (periods - 1) * n, size), m, Kind::First, 0.0,
                             last, nullptr);
            const auto [q0, nearPeak] = reduce(segment.point(pass));
            const double extreme = (nearPeak ? largest : kStep) * scale;
            if (periods > 1) {
                const std::uint64_t easy = sortEasy(first, last, size, scale, q0, sigma, drift, kMargin, levels.data());
                count.units += static_cast<Units>(easy) * periods;
                if (tally)
                    tally->constant += easy;
            }
            for (std::size_t j = 0; j < size && !count.infinite; ++j) {
                if (periods > 1) {
                    if (j % kSkipped == 0 && j + kSkipped <= size && allEasy(levels.data() + j)) {
                        j += kSkipped - 1;
                        continue;
                    }
                    if (levels[j] >= 0)
                        continue;
                }
                const double q = q0 + static_cast<double>(j) * sigma;
                Residue residue(stretch, i0 + j, start, j, q, nearPeak, m, scale, count, tally);
                const double v0 = first[j] * scale;
                if (periods == 1) {
                    count.units += residue.piece(0, v0, 0, v0);
                    continue;
                }
                const double v1 = last[j] * scale;
                const double low = std::min(q, q + drift) - kMargin, high = std::max(q, q + drift) + kMargin;
                if (!(low <= 0.0 && 0.0 <= high)) {
                    count.units += residue.piece(0, v0, periods - 1, v1);
                    continue;
                }
                // It may pass an extremum, where t is h (s = 0) or the
                // largest term (|s| = 1): every term then lies between the
                // ends and that one, and where all three share one level, so
                // does every term. Otherwise the terms around the crossing
                // are made one by one, and either side is monotone.
                if (const auto shared = sharedLevel(std::min({v0, v1, extreme}), std::max({v0, v1, extreme}))) {
                    count.units += residue.spread(0, periods - 1, Level{*shared, false});
                    continue;
                }
                const double crossing = -q / eps;
                const double from = std::max(0.0, std::floor(crossing) - guard);
                const double to = std::min(static_cast<double>(periods - 1), std::ceil(crossing) + guard);
                if (from > to) { // the crossing lies past either end
                    count.units += residue.piece(0, v0, periods - 1, v1);
                    continue;
                }
                ++count.splits;
                const auto a = static_cast<std::uint64_t>(from), b = static_cast<std::uint64_t>(to);
                if (a > 0)
                    count.units += residue.piece(0, v0, a - 1, a - 1 == 0 ? v0 : residue.at(a - 1));
                for (std::uint64_t p = a; p <= b; ++p) {
                    const double v = p == 0 ? v0 : p == periods - 1 ? v1 : residue.at(p);
                    count.units += residue.piece(p, v, p, v);
                }
                if (b + 1 < periods)
                    count.units += residue.piece(b + 1, b + 1 == periods - 1 ? v1 : residue.at(b + 1),
                                                 periods - 1, v1);
            }
            if (count.infinite)
                stopped = true;
            if (goOn && asking.try_lock()) {
                const bool going = goOn();
                asking.unlock();
                if (!going)
                    stopped = true;
            }
        }
        std::lock_guard lock(merging);
        merge(total, count);
    });
    if (total.infinite)
        return total;
    if (stopped)
        return std::nullopt;
    if (total.tie && settling)
        settleTies(stretch, m, scale, startUnits, kernel, strides, tallies, buffers[0], total);
    return total;
}

} // namespace quadrilo
