#include "compute/periods/stretch.h"

#include "compute/exact/mp_memory.h"
#include "compute/exact/sine.h"

#include <algorithm>
#include <atomic>
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

Level levelOf(double v)
{
    const double k = std::nearbyint(v);
    return {k, v - std::floor(v) == 0.5};
}

// Levels stay below 2^53 wherever a count is taken: through 64 bits, as
// a double's conversion to 128 bits is a slow library call.
Units unitsOf(const Level& level) { return static_cast<std::uint64_t>(level.units); }

// One residue's terms along its periods.
class Residue {
public:
    Residue(const Stretch& stretch, std::uint64_t residue, double m, double scale, StretchCount& count)
        : segment_(stretch.segment), pass_(stretch.first + residue), period_(stretch.period.passes), m_(m),
          scale_(scale), count_(count)
    {
    }

    // v(p) = t(p) / u, the term made exactly.
    double at(std::uint64_t p)
    {
        ++count_.madeTerms;
        return firstKindTerm(segment_.point(pass_ + p * period_), m_) * scale_;
    }

    // The units of periods [lo, hi], with p -> t(p) monotone there and
    // v(lo), v(hi) given.
    Units piece(std::uint64_t lo, double vlo, std::uint64_t hi, double vhi, bool bisect = false)
    {
        const Level a = note(lo, vlo);
        if (lo == hi)
            return unitsOf(a);
        const Level b = note(hi, vhi);
        if (count_.infinite)
            return 0;
        if (a.units == b.units && !a.tie && !b.tie)
            return unitsOf(a) * (hi - lo + 1);
        ++count_.changes;
        if (hi == lo + 1)
            return unitsOf(a) + unitsOf(b);
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
        return piece(lo, vlo, mid, vmid, !bisect) + piece(mid, vmid, hi, vhi, !bisect) -
               unitsOf(levelOf(vmid));
    }

private:
    Level note(std::uint64_t p, double v)
    {
        if (std::isinf(v)) {
            count_.infinite = true;
            return {0.0, false};
        }
        const Level level = levelOf(v);
        if (level.tie && (!count_.tie || p < count_.firstTie)) {
            count_.tie = true;
            count_.firstTie = p;
        }
        return level;
    }

    const Segment& segment_;
    std::uint64_t pass_;
    std::uint64_t period_;
    double m_, scale_;
    StretchCount& count_;
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
}

} // namespace

double firstKindTerm(double theta, double m)
{
    const double s = correctSin(theta);
    const double r = std::sqrt(1.0 - m * (s * s));
    return 1.0 / r * kStep;
}

std::optional<StretchCount> countStretch(const Stretch& stretch, double m, double scale,
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

    constexpr std::uint64_t kChunk = kernel::kMaxRun;
    const std::uint64_t chunks = (n + kChunk - 1) / kChunk;
    std::atomic<std::uint64_t> next{0};
    std::atomic<bool> stopped{false};
    std::mutex asking, merging;
    StretchCount total;

    crew.run([&](unsigned worker) {
        double* const first = buffers[2 * worker];
        double* const last = buffers[2 * worker + 1];
        Reducer reduce;
        StretchCount count;
        for (std::uint64_t chunk; !stopped.load(std::memory_order_relaxed) &&
                                  (chunk = next.fetch_add(1, std::memory_order_relaxed)) < chunks;) {
            const std::uint64_t i0 = chunk * kChunk;
            const std::size_t size = static_cast<std::size_t>(std::min(kChunk, n - i0));
            const std::uint64_t pass = stretch.first + i0;
            kernel.terms(runFrom(strides, segment, pass, size), m, Kind::First, 0.0, first, nullptr);
            if (periods > 1)
                kernel.terms(runFrom(strides, segment, pass + (periods - 1) * n, size), m, Kind::First, 0.0,
                             last, nullptr);
            const auto [q0, nearPeak] = reduce(segment.point(pass));
            const double extreme = (nearPeak ? largest : kStep) * scale;
            for (std::size_t j = 0; j < size && !count.infinite; ++j) {
                Residue residue(stretch, i0 + j, m, scale, count);
                const double v0 = first[j] * scale;
                if (periods == 1) {
                    count.units += residue.piece(0, v0, 0, v0);
                    continue;
                }
                const double v1 = last[j] * scale;
                const double q = q0 + static_cast<double>(j) * sigma;
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
                const Level ends = levelOf(v0);
                if (!ends.tie && std::isfinite(v0) && std::isfinite(v1) && std::isfinite(extreme) &&
                    ends.units == levelOf(v1).units && !levelOf(v1).tie && ends.units == levelOf(extreme).units &&
                    !levelOf(extreme).tie) {
                    count.units += unitsOf(ends) * periods;
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
    return total;
}

} // namespace quadrilo
