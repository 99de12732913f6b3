// The rectangle sums of the reference loop, computed in parallel with the
// same bits.
//
// Pass points: planPasses splits them into a few dozen arithmetic segments,
// so any block of passes can be generated exactly and independently. The
// segments are the same for every upper limit (a shorter limit only cuts the
// last one short), so their sines and rotations (BlockStarts) are worked out
// once, when the engine is made.
//
// Terms: the workers make blocks of kBlock passes in parallel (an
// OrderedPipeline), with the kernel of the chosen instruction set
// (kernels/kernel_simd.h: the sine correctly rounded, every other step
// rounded as the reference rounds it), into buffers of their own.
//
// Sum: each worker also counts its block in units of ulp(S), for S as last
// published when it starts the block, as the kernel makes the terms. The
// blocks are then added one after another, in order (ExactSum: one addition
// a block, or the block's terms again in the rare case that S has changed
// binade, or that a term is a tie or too large).
// Once S is a few units of the terms' last places, most first-kind blocks
// are only counted (kernels/kernel_count.h), their terms never formed; such
// a block whose count cannot go has them formed by the worker that adds it.
//
// Periods: past 4096 radians, a first-kind stretch may instead be counted a
// period at a time (periods/stretch.h), where the cost model below says
// that takes under half the time of its passes; ties and S's binade ending
// cut a stretch short, and what is left goes block by block. A stretch whose
// terms all share one level (every term between h and the largest) is
// counted at once.
//
// Cancelling: the progress callback runs after every block is added, and
// between chunks of a stretch's residues.
#include "compute/engine.h"

#include "compute/block_starts.h"
#include "compute/exact/exact_sum.h"
#include "compute/periods/bands.h"
#include "compute/periods/convergents.h"
#include "compute/periods/stretch.h"
#include "compute/threads/ordered_pipeline.h"
#include "platform/errors.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cmath>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace quadrilo {
namespace {

constexpr std::uint64_t kBlock = 1u << 15;
// A block's runs are the kernels' runs: no longer than their bound covers.
static_assert(kBlock <= kernel::kMaxRun);
constexpr std::size_t kBufferSize = kBlock + kernel::kMaxLanes; // kernels write whole rows

// A block made and waiting for its turn: its terms, or only their count.
struct Block {
    std::unique_ptr<double[]> terms;
    std::uint64_t count = 0;
    Counted counted;
    bool formed = true; // the terms are in `terms`, not only counted
};

// Each thread keeps its multiple-precision numbers and constants, made here;
// one that cannot have them retires.
void setUpThread(const std::function<void()>& serve)
{
    SineScratch scratch;
    (void)correctSin(1.0);
    DoubleDouble s, c;
    sinCosOfMultiple(1.0, 1, s, c);
    serve();
}

} // namespace

class Engine::Impl {
public:
    explicit Impl(const EngineSettings& settings);

    unsigned workers() const { return crew_->size(); }
    Isa isa() const { return isa_; }
    double workShare() const { return workShare_.load(std::memory_order_relaxed); }
    std::optional<Evaluation> evaluate(const Request& request, const ProgressFn& progress);

private:
    bool plain(const Request& request, std::uint64_t from, std::uint64_t to, const ProgressFn& progress);
    std::optional<std::uint64_t> byPeriods(const Request& request, std::uint64_t& done, const ProgressFn& progress);
    std::optional<std::uint64_t> byBands(const Segment& segment, std::uint64_t length, const BandPlan& plan,
                                         std::uint64_t& done, const ProgressFn& progress);
    const std::vector<Period>& periodsOf(std::size_t segment, double stride);
    double plannedWork(const Request& request, std::uint64_t periodsFrom);
    void addWork(double work);
    void publish();
    void make(const Request& request, std::uint64_t index, Block& block);
    void add(const Request& request, std::uint64_t index, Block& block);
    bool likelyLeavesBinade(std::uint64_t end) const;
    Counted computeTerms(const Request& request, std::uint64_t begin, std::uint64_t count, double scale,
                         double* out, bool mayCount, bool& formed);

    const Isa isa_;
    const kernel::Kernel& kernel_;
    const PeriodSettings periodSettings_;
    std::vector<std::vector<Period>> periods_; // by segment, once asked for
    std::optional<Bands> bands_;               // of this evaluation's modulus
    double meanTerm_ = 0.0;                    // h 2 K(m) / pi
    double bandsRefused_ = 0.0;                // a scale with more ties than a count settles
    std::vector<BlockStarts> starts_; // of the segments up to the largest limit
    std::vector<Block> blocks_;       // by the pipeline's buffer
    std::unique_ptr<Crew> crew_;
    std::unique_ptr<OrderedPipeline> pipeline_;
    std::mutex evaluating_;

    ExactSum sum_; // touched only by the in-order stage
    std::uint64_t from_ = 0, to_ = 0; // the passes summed one by one now
    PeriodWork work_;
    double plannedWork_ = 1.0, workDone_ = 0.0; // in passes of the plain sum
    std::atomic<double> workShare_{0.0};
    // S as the in-order stage last left it, for the makers' counts.
    std::atomic<double> publishedScale_{0.0};
    std::atomic<double> publishedSum_{0.0};
};

Engine::Impl::Impl(const EngineSettings& settings)
    : isa_(supportedUpTo(settings.isa)), kernel_(kernel::forIsa(isa_)), periodSettings_(settings.periods),
      sum_(kernel_.units)
{
    unsigned wanted = settings.workers != 0 ? settings.workers
                                            : std::max(1u, std::thread::hardware_concurrency());
    // Buffers first: a worker without them is a worker fewer. The caller
    // itself needs one pair.
    for (unsigned i = 0; i < 2 * wanted; ++i) {
        try {
            blocks_.emplace_back().terms = std::make_unique<double[]>(kBufferSize); // touched: zeroed
        } catch (const std::bad_alloc&) {
            if (i < 2)
                throw;
            wanted = i / 2;
            break;
        }
    }
    crew_ = std::make_unique<Crew>(wanted, settings.startThread, setUpThread);
    pipeline_ = std::make_unique<OrderedPipeline>(*crew_);
    blocks_.resize(pipeline_->buffers());

    // Any plan's segments are the first ones of the largest plan, the last
    // of them cut short. The workers share out their multiple-precision
    // sines. Done on the calling thread alone (3.5 ms), they made the first
    // short evaluations after it run at about one worker's speed, the
    // scheduler apparently keeping both workers on the processor that had
    // been idle.
    const std::vector<Segment> segments = planPasses(std::nextafter(kLimitBound, 0.0)).segments;
    starts_.resize(segments.size());
    periods_.resize(segments.size());
    const SineScratch scratch; // for the calling thread, when it is the only one
    crew_->run([&](unsigned index) {
        for (std::size_t i = index; i < segments.size(); i += crew_->size())
            starts_[i] = BlockStarts(segments[i], kernel_.lanes, kBlock);
    });

    // One block for every buffer, so that the first evaluation finds the
    // kernels' code, the buffers and the hand-over already warm.
    evaluate(firstKindRequest(static_cast<double>(blocks_.size() * kBlock) * kStep, 45), {});
}

std::optional<Evaluation> Engine::Impl::evaluate(const Request& request, const ProgressFn& progress)
{
    std::lock_guard lock(evaluating_);
    const std::uint64_t passes = request.plan.passes;
    if (passes == 0)
        return Evaluation{};
    const SineScratch scratch; // for the calling thread, when it is the only one
    sum_ = ExactSum(kernel_.units);
    publishedScale_ = 0.0;
    publishedSum_ = 0.0;
    work_ = {};
    BandSettings bandSettings;
    bandSettings.mostTies = periodSettings_.mostBandTies;
    bands_.emplace(request.m, bandSettings, &kernel_);
    meanTerm_ = kStep * (2 / 3.141592653589793) * std::comp_ellint_1(std::sqrt(request.m));
    bandsRefused_ = 0.0;

    // Periods pay only once the terms have many passes to repeat over.
    std::uint64_t periodsFrom = passes;
    if (periodSettings_.enabled && request.kind == Kind::First)
        for (const Segment& segment : request.plan.segments)
            if (segment.point(segment.firstPass + segment.count - 1) >= periodSettings_.from) {
                const double ahead = std::ceil((periodSettings_.from - segment.base) / segment.stride);
                periodsFrom = segment.firstPass + static_cast<std::uint64_t>(std::max(0.0, ahead));
                break;
            }

    workDone_ = 0.0;
    workShare_ = 0.0;
    plannedWork_ = std::max(1.0, plannedWork(request, periodsFrom));

    for (std::uint64_t done = 0; done < passes;) {
        std::uint64_t to = std::max(done, periodsFrom);
        if (done >= periodsFrom) {
            const auto plainFor = byPeriods(request, done, progress);
            if (!plainFor)
                return std::nullopt;
            to = std::min(passes, done + *plainFor);
        }
        if (to > done && !plain(request, done, std::min(to, passes), progress))
            return std::nullopt;
        done = std::max(done, std::min(to, passes));
    }
    return Evaluation{sum_.value(), passes, request.plan.lastCounter, work_};
}

bool Engine::Impl::plain(const Request& request, std::uint64_t from, std::uint64_t to, const ProgressFn& progress)
{
    // Blocks keep to the grid of kBlock passes, where their runs start from
    // turns (BlockStarts); only the first may start off it.
    from_ = from;
    to_ = to;
    const std::uint64_t first = from / kBlock;
    return pipeline_->run(
        (to + kBlock - 1) / kBlock - first,
        [&](std::uint64_t index, unsigned buffer) { make(request, first + index, blocks_[buffer]); },
        [&](std::uint64_t index, unsigned buffer) {
            add(request, first + index, blocks_[buffer]);
            addWork(static_cast<double>(blocks_[buffer].count));
            return !progress || progress(std::min((first + index + 1) * kBlock, to));
        });
}

const std::vector<Period>& Engine::Impl::periodsOf(std::size_t segment, double stride)
{
    if (periods_[segment].empty())
        periods_[segment] = quadrilo::periodsOf(stride, periodSettings_.longestPeriod);
    return periods_[segment];
}

namespace {

// In passes of the plain sum: a residue costs its two ends from the
// kernels, not counted, and their sort; a change of level, the inverse's
// guess and two estimates, now and then a term made exactly. Measured on an
// AMD EPYC with AVX-512, on one core: 0.46 ns a plain pass, 2.7 ns a residue
// and 124 ns a change; taken a little below that, which measured faster at
// phi = 10^6. Near steep peaks the estimate's bound fails and nearly every
// change is a term made exactly: some 580 ns there, at 90 degrees.
constexpr double kResidueCost = 5;
constexpr double kChangeCost = 200;
constexpr double kMadeChangeCost = 1200;
// A stretch by bands: each edge, once a binade of S, and its floor sums,
// once a stretch; past the top edge, a pass near a peak whose term is
// made, and a run of them. Measured on the AMD EPYC at nearly a right
// angle, on one core: 4.4 to 6.6 us to make an edge, 0.5 us for its sums
// over 2^44 passes in 128 bits, 0.5 ns a made pass and 450 ns a run.
constexpr double kEdgeCost = 12000;
constexpr double kBandCost = 1500;
constexpr double kPeakPassCost = 1.2;
constexpr double kPeakRunCost = 1000;

constexpr double kHalfPi = 1.5707963267948966;

// The cost, a pass, of the changes of level that a stretch with drift eps
// a period meets. A residue's level moves by |t'| P |eps| / u over P
// periods, but by at most one a period; the residues of a half turn, passes
// / pi a radian, meet the integral of min(1, x g) over it, with
// x = |eps| h / u and g = |t'| / h = m sin cos / (1 - m sin^2)^(3/2), whose
// integral is t / h. Taken over each quarter turn in delta, the distance
// from the peak, g rises to one maximum and falls: where x g stays below 1
// that is x (largest - h) / h; otherwise every period changes between the
// two points where x g = 1, and the integral of x g counts the rest.
class ChangeCost {
public:
    explicit ChangeCost(double m) : m_(m), a_(1.0 - m)
    {
        if (!(a_ > 0))
            return;
        // The maximum of g, searched in ln delta.
        double lo = kLeast, hi = std::log(kHalfPi);
        for (int i = 0; i < 100; ++i) {
            const double left = lo + (hi - lo) / 3, right = hi - (hi - lo) / 3;
            if (g(std::exp(left)) < g(std::exp(right)))
                lo = left;
            else
                hi = right;
        }
        peak_ = (lo + hi) / 2;
    }

    double operator()(double eps, double scale) const
    {
        if (!(a_ > 0))
            return INFINITY; // an infinite term: no stretch
        const double x = std::abs(eps) * kStep * scale;
        const double largest = 1.0 / std::sqrt(a_);
        if (!(x * g(std::exp(peak_)) > 1))
            return (2 / kPi) * x * (largest - 1.0) * kChangeCost;
        const double near = edge(kLeast, x), far = edge(std::log(kHalfPi), x);
        const double free = x * ((largest - term(near)) + (term(far) - 1.0));
        return (2 / kPi) * ((far - near) * kMadeChangeCost + free * kChangeCost);
    }

private:
    static constexpr double kPi = 3.141592653589793;
    static constexpr double kLeast = -80; // ln delta: where g is negligible

    double g(double delta) const
    {
        const double s = std::sin(delta);
        return m_ * s * std::cos(delta) / std::pow(a_ + m_ * s * s, 1.5);
    }
    double term(double delta) const // t / h
    {
        const double s = std::sin(delta);
        return 1.0 / std::sqrt(a_ + m_ * s * s);
    }
    // delta between the peak and `outside` (ln) where x g = 1.
    double edge(double outside, double x) const
    {
        double in = peak_;
        for (int i = 0; i < 60; ++i) {
            const double mid = (in + outside) / 2;
            (x * g(std::exp(mid)) > 1 ? in : outside) = mid;
        }
        return std::exp((in + outside) / 2);
    }

    double m_, a_;
    double peak_ = 0.0;
};

struct Choice {
    const Period* period = nullptr; // none: the passes one by one
    std::uint64_t periods = 0;
    double cost = 0.0; // in the plain passes' own
};

double stretchCost(const Period& period, double passes, const ChangeCost& changes, double scale)
{
    return kResidueCost * static_cast<double>(period.passes) + passes * changes(period.drift, scale);
}

// A stretch of `length` passes by bands, if they can count it, with its
// cost. Where its edges stop is chosen for the whole of S's binade, as the
// passes that it spans at the mean term, so that its stretches share them:
// the rest of that binade is `binade` passes long, so each bears its share
// of making them; none where they are ready.
std::optional<BandPlan> bandPlan(const Bands& bands, double scale, double meanTerm, std::uint64_t length,
                                 double binade)
{
    const double sums = Bands::sumsWeight(length);
    const double span = 0x1p52 / (meanTerm * scale);
    BandPlan plan = bands.plan(scale, span, BandCosts{kEdgeCost + sums * kBandCost, kPeakPassCost, kPeakRunCost});
    if (!std::isfinite(plan.cost))
        return std::nullopt;
    // Edges past what the bands keep are made again for every stretch.
    const double made = bands.ready(scale, plan.top) ? 0.0
                        : !bands.keeps(plan.edges) ? 1.0
                                                   : std::min(1.0, static_cast<double>(length) / binade);
    const double share = static_cast<double>(length) / span;
    plan.cost = plan.edges * (made * kEdgeCost + sums * kBandCost) +
                share * (plan.peakPasses * kPeakPassCost + plan.peakRuns * kPeakRunCost);
    return plan;
}

// The period whose stretch over at most `length` passes costs least, if that
// is at most half of what the passes cost one by one (the tests' short
// stretches, at any cost).
Choice choose(const std::vector<Period>& periods, std::uint64_t length, const ChangeCost& changes, double scale,
              const PeriodSettings& settings)
{
    Choice best;
    double bestShare = settings.mostPeriods != 0 ? INFINITY : 0.5;
    for (const Period& period : periods) {
        std::uint64_t count = length / period.passes;
        if (settings.mostPeriods != 0)
            count = std::min(count, settings.mostPeriods);
        const double eps = std::abs(period.drift);
        if (eps < 0x1p-60)
            continue;
        count = std::min(count, static_cast<std::uint64_t>(0.4 / eps));
        if (count < 2)
            continue;
        const double passes = static_cast<double>(count * period.passes);
        const double cost = stretchCost(period, passes, changes, scale);
        if (cost / passes < bestShare)
            best = {&period, count, cost}, bestShare = cost / passes;
    }
    return best;
}

} // namespace

// What the evaluation should cost, in passes of the plain sum, for the time
// left: the passes before periods pay one by one, and past them, piece by
// piece of a segment and of S's binade, S taken as the passes times the mean
// term (h 2 K(m) / pi), the cheapest of the passes, their best stretch by
// periods and their stretch by bands.
double Engine::Impl::plannedWork(const Request& request, std::uint64_t periodsFrom)
{
    const std::uint64_t passes = request.plan.passes;
    double work = static_cast<double>(std::min(periodsFrom, passes));
    const double meanTerm = kStep * (2 / 3.141592653589793) * std::comp_ellint_1(std::sqrt(request.m));
    if (periodsFrom >= passes || !std::isfinite(meanTerm))
        return static_cast<double>(passes);
    const ChangeCost changes(request.m);
    const Bands bands(request.m, {}, &kernel_);
    double lastScale = 0.0; // of the edges last counted
    std::size_t index = 0;
    const auto& segments = request.plan.segments;
    for (std::uint64_t done = std::max<std::uint64_t>(periodsFrom, 1); done < passes;) {
        while (segments[index].firstPass + segments[index].count <= done)
            ++index;
        const Segment& segment = segments[index];
        const double sum = meanTerm * static_cast<double>(done);
        const double scale = ExactSum::scaleOf(sum);
        const double top = 0x1p53 / scale;
        std::uint64_t length = std::min(segment.firstPass + segment.count, passes) - done;
        length = std::max<std::uint64_t>(1, std::min<std::uint64_t>(length, static_cast<std::uint64_t>((top - sum) / meanTerm) + 1));
        if (!sharedLevel(kStep * scale, 1.0 / std::sqrt(1.0 - request.m) * kStep * scale)) {
            const Choice choice = choose(periodsOf(index, segment.stride), length, changes, scale, periodSettings_);
            double cost = choice.period ? choice.cost + static_cast<double>(length % choice.period->passes)
                                        : static_cast<double>(length);
            const double binade = scale == lastScale ? INFINITY : (top - sum) / meanTerm;
            if (periodSettings_.bands && length >= 2)
                if (const auto byBands = bandPlan(bands, scale, meanTerm, length, binade))
                    cost = std::min(cost, byBands->cost), lastScale = scale;
            work += cost;
        }
        done += length;
    }
    return work;
}

void Engine::Impl::addWork(double work)
{
    workDone_ += work;
    workShare_.store(std::min(1.0, workDone_ / plannedWork_), std::memory_order_relaxed);
}

// Sums a stretch from pass `done` by periods or by bands, or as a stretch
// whose terms all round alike, and moves `done` past it. Otherwise, or where that
// cannot go on, tells how many passes to sum one by one first (nothing when
// cancelled).
std::optional<std::uint64_t> Engine::Impl::byPeriods(const Request& request, std::uint64_t& done,
                                                     const ProgressFn& progress)
{
    const auto& segments = request.plan.segments;
    std::size_t index = 0;
    while (segments[index].firstPass + segments[index].count <= done)
        ++index;
    const Segment& segment = segments[index];
    const std::uint64_t left = segment.firstPass + segment.count - done;
    const double scale = sum_.scale();
    if (scale == 0.0)
        return std::min(left, kBlock);
    const double room = 0x1p53 - 1 - sum_.value() * scale; // units; exact
    const double m = request.m;
    const std::optional<double> shared = sharedLevel(kStep * scale, 1.0 / std::sqrt(1.0 - m) * kStep * scale);
    const auto finish = [&](std::uint64_t passes, double units) {
        sum_.addCounted(Counted{scale, units, true});
        done += passes;
        work_.passes += passes;
        publish();
        return !progress || progress(done);
    };

    // Every term between h and the largest: one level for all.
    if (shared) {
        std::uint64_t passes = left;
        if (*shared > 0)
            passes = std::min<std::uint64_t>(passes, static_cast<std::uint64_t>(room / *shared));
        if (passes == 0)
            return std::min(left, kBlock);
        ++work_.flatStretches;
        if (!finish(passes, static_cast<double>(passes) * *shared))
            return std::nullopt;
        return 0;
    }

    // As far as S's binade goes, at the mean term so far.
    const double meanUnits = sum_.value() * scale / static_cast<double>(done);
    const double reach = room / meanUnits * (1 - 0x1p-10) * periodSettings_.overreach;
    const std::uint64_t length = std::min<std::uint64_t>(left, static_cast<std::uint64_t>(reach));
    const ChangeCost changes(m);
    const Choice choice = choose(periodsOf(index, segment.stride), length, changes, scale, periodSettings_);
    if (periodSettings_.bands && scale != bandsRefused_ && length >= 2) {
        const auto plan = bandPlan(*bands_, scale, meanTerm_, length, room / meanUnits);
        // Their cost is known closely, unlike the changes of a period's.
        const double rival = choice.period ? choice.cost : static_cast<double>(length);
        if (plan && (periodSettings_.alwaysBands || plan->cost < rival))
            return byBands(segment, length, *plan, done, progress);
    }
    if (!choice.period)
        return std::min(left, std::max(length, kBlock) + kBlock);
    const Period* best = choice.period;
    const std::uint64_t bestPeriods = choice.periods;

    std::vector<double*> buffers;
    for (Block& block : blocks_)
        buffers.push_back(block.terms.get());
    Stretch stretch{segment, done, *best, bestPeriods, periodSettings_.mostSettled};
    for (;;) {
        const std::uint64_t n = stretch.period.passes;
        const auto count = countStretch(stretch, m, scale, sum_.value() * scale, kernel_, *crew_, buffers,
                                        [&] { return !progress || progress(done); });
        if (!count)
            return std::nullopt;
        work_.changes += count->changes;
        work_.madeTerms += count->madeTerms;
        work_.estimates += count->estimates;
        work_.splits += count->splits;
        work_.ties += count->settledTies;
        if (count->infinite)
            throw RuntimeError(RuntimeError::DivisionByZero);
        if (count->tie) {
            // Up to the tie's period, then that period one by one.
            ++work_.cutAtTies;
            if (count->firstTie < 2)
                return (count->firstTie + 1) * n;
            stretch.periods = count->firstTie;
            continue;
        }
        if (count->units > static_cast<Units>(room)) {
            // S would leave its binade: a shorter stretch, at the units a
            // period this one showed, and the rest one by one.
            ++work_.overflows;
            const double perPeriod = static_cast<double>(count->units) / static_cast<double>(stretch.periods);
            const auto periods = static_cast<std::uint64_t>(room / perPeriod * (1 - 0x1p-20));
            if (periods < 2)
                return std::min(left, 2 * n);
            stretch.periods = std::min(periods, stretch.periods - 1);
            continue;
        }
        ++work_.stretches;
        // As the plan counted it, so that the share done follows the plan.
        const double passes = static_cast<double>(stretch.periods * n);
        addWork(stretchCost(stretch.period, passes, changes, scale));
        if (!finish(stretch.periods * n, static_cast<double>(count->units)))
            return std::nullopt;
        return 0;
    }
}

// Sums `length` passes from `done` by bands, or fewer: up to a tie, which
// then goes pass by pass, or as far as S's binade goes.
std::optional<std::uint64_t> Engine::Impl::byBands(const Segment& segment, std::uint64_t length,
                                                   const BandPlan& plan, std::uint64_t& done,
                                                   const ProgressFn& progress)
{
    const double scale = sum_.scale();
    const double room = 0x1p53 - 1 - sum_.value() * scale; // units; exact
    std::uint64_t passes = length;
    for (;;) {
        const auto count = bands_->count(segment, done, passes, scale, sum_.value() * scale, *crew_,
                                         [&] { return !progress || progress(done); }, plan.top);
        if (!count)
            return std::nullopt;
        work_.edges += count->edges;
        work_.floorSums += count->sums;
        work_.peakPasses += count->peakPasses;
        if (count->doubtful)
            return std::min(passes, kBlock);
        if (count->tie) {
            // More ties than a count settles: at this scale they would cost
            // a count each.
            ++work_.cutAtTies;
            bandsRefused_ = scale;
            if (count->firstTie < 2)
                return count->firstTie + 1;
            passes = count->firstTie;
            continue;
        }
        if (count->units > static_cast<Wide>(room)) {
            ++work_.overflows;
            const double share = room / static_cast<double>(count->units) * (1 - 0x1p-20);
            const auto shorter = static_cast<std::uint64_t>(static_cast<double>(passes) * share);
            if (shorter < 2)
                return std::min(passes, kBlock);
            passes = std::min(shorter, passes - 1);
            continue;
        }
        ++work_.bandStretches;
        work_.ties += count->ties;
        sum_.addCounted(Counted{scale, static_cast<double>(count->units), true});
        done += passes;
        work_.passes += passes;
        addWork(plan.cost * static_cast<double>(passes) / static_cast<double>(length));
        publish();
        if (progress && !progress(done))
            return std::nullopt;
        return 0;
    }
}

void Engine::Impl::publish()
{
    publishedScale_.store(sum_.scale(), std::memory_order_relaxed);
    publishedSum_.store(sum_.value(), std::memory_order_relaxed);
}

void Engine::Impl::make(const Request& request, std::uint64_t index, Block& block)
{
    const std::uint64_t begin = std::max(from_, index * kBlock);
    block.count = std::min((index + 1) * kBlock, to_) - begin;
    block.formed = true;
    block.counted = computeTerms(request, begin, block.count, publishedScale_.load(std::memory_order_relaxed),
                                 block.terms.get(), !likelyLeavesBinade(begin + block.count), block.formed);
}

void Engine::Impl::add(const Request& request, std::uint64_t index, Block& block)
{
    if (!sum_.addCounted(block.counted)) {
        // Counted for a scale that S has left, or with a tie: its terms
        // after all, seldom (a few blocks a binade).
        if (!block.formed)
            computeTerms(request, std::max(from_, index * kBlock), block.count, 0.0, block.terms.get(), false,
                         block.formed);
        sum_.addTerms(block.terms.get(), block.count);
    }
    if (std::isinf(sum_.value())) // only an infinite term, a root of 0, gets it there
        throw RuntimeError(RuntimeError::DivisionByZero);
    publish();
}

// Whether S will probably have left the binade of the published scale by
// pass `end`, at twice the mean term so far: a block counted for that scale
// would then have its terms formed by the worker that adds it, in turn, while
// the other workers wait. Early on, when S doubles every block or two, that
// cost about a fifth of the time at phi = pi/2.
bool Engine::Impl::likelyLeavesBinade(std::uint64_t end) const
{
    const double scale = publishedScale_.load(std::memory_order_relaxed);
    const double sum = publishedSum_.load(std::memory_order_relaxed);
    const std::uint64_t added = from_ + std::min(pipeline_->used() * kBlock, end - from_);
    if (scale == 0.0 || added == 0)
        return true;
    const double ahead = static_cast<double>(end - added);
    return sum + 2 * ahead * (sum / static_cast<double>(added)) >= 0x1p53 / scale;
}

// The terms of passes [begin, begin + count), run by run, counted for
// `scale` unless it is 0. With mayCount, a first-kind run that the counting
// kernel takes (kernels/kernel_count.h: where its bound leaves few lanes in doubt for
// this scale and m) is only counted, and `formed` cleared. The buffer's
// padding to a multiple of 8 is left zero, as ExactSum reads it.
Counted Engine::Impl::computeTerms(const Request& request, std::uint64_t begin, std::uint64_t count, double scale,
                                   double* out, bool mayCount, bool& formed)
{
    mayCount = mayCount && kernel_.count && request.kind == Kind::First && scale != 0.0;
    Counted counted{scale, 0.0, true};
    const auto& segments = request.plan.segments;
    std::size_t segment = 0;
    for (std::uint64_t i = 0; i < count;) {
        const std::uint64_t pass = begin + i;
        while (segments[segment].firstPass + segments[segment].count <= pass)
            ++segment;
        const Segment& s = segments[segment];
        const std::uint64_t n = std::min(count - i, s.firstPass + s.count - pass);
        // A plan's segments are the first ones of the largest plan.
        assert(starts_[segment].covers(s));
        const kernel::Run run = starts_[segment].runAt(pass - s.firstPass, n);
        bool exact = true;
        double units = std::nan("");
        if (mayCount)
            units = kernel_.count(run, request.m, scale, &exact);
        if (std::isnan(units))
            units = kernel_.terms(run, request.m, request.kind, scale, out + i, &exact);
        else
            formed = false;
        // Counts below 2^53 add exactly; past it the total still shows it.
        counted.units += units;
        counted.exact = counted.exact && exact;
        i += n;
    }
    std::fill(out + count, out + (count + 7) / 8 * 8, 0.0); // past what the kernels wrote
    return counted;
}

Engine::Engine(EngineSettings settings) : impl_(std::make_unique<Impl>(settings)) {}
Engine::~Engine() = default;

unsigned Engine::workers() const { return impl_->workers(); }
Isa Engine::isa() const { return impl_->isa(); }
double Engine::workShare() const { return impl_->workShare(); }

std::optional<Evaluation> Engine::evaluate(const Request& request, const ProgressFn& progress)
{
    return impl_->evaluate(request, progress);
}

} // namespace quadrilo
