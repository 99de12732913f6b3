// The rectangle sums of the reference loop, computed in parallel with the
// same bits.
//
// Pass points: planPasses splits them into a few dozen arithmetic segments,
// so any block of passes can be generated exactly and independently. The
// segments are the same for every upper limit (a shorter limit only cuts the
// last one short), so their sines and rotations are worked out once, when
// the engine is made. A block that starts inside a segment starts from the
// segment's first point on the grid of blocks, turned by binary powers of a
// block's worth of strides (Starts): a few turns in double-double, instead
// of a sine and cosine in multiple precision for every block.
//
// Terms: the workers claim blocks of kBlock passes in turn and compute their
// terms with the kernel of the chosen instruction set (kernel_simd.h: the
// sine correctly rounded, every other step rounded as the reference rounds
// it), into buffers of their own.
//
// Sum: each worker also counts its block in units of ulp(S), for S as last
// published when it starts the block, as the kernel makes the terms. The
// blocks are then added one after another, in order, by whichever worker
// finds the sum free (ExactSum: one addition a block, or the block's terms
// again in the rare case that S has changed binade, or that a term is a tie
// or too large).
// Once S is a few units of the terms' last places, most first-kind blocks
// are only counted (kernel_count.h), their terms never formed; such a block
// whose count cannot go has them formed by the worker that adds it.
// A worker that has both its buffers waiting for their turn helps to add,
// then waits; memory is two blocks a worker, whatever the number of passes.
//
// Cancelling: the progress callback runs after every block is added.
#include "compute/engine.h"

#include "compute/exact_sum.h"
#include "compute/sine.h"
#include "platform/errors.h"

#include <algorithm>
#include <cassert>
#include <atomic>
#include <cmath>
#include <exception>
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
constexpr std::uint64_t kNone = ~std::uint64_t{0};

kernel::Run runFrom(const Segment& segment, std::size_t lanes)
{
    kernel::Run run;
    run.base = segment.base;
    run.stride = segment.stride;
    sinCosOfMultiple(segment.base, 1, run.sinFirst, run.cosFirst);
    sinCosOfMultiple(segment.stride, 1, run.sinStride, run.cosStride);
    sinCosOfMultiple(segment.stride, static_cast<unsigned>(lanes), run.sinLeap, run.cosLeap);
    return run;
}

// A segment's run from its first point, and what a block that starts inside
// it needs: the segment's first point that starts a block, counted from its
// first point, that point's sine and cosine, and the sine and cosine of 2^k
// blocks' worth of strides for every k that a block inside can need.
struct Starts {
    kernel::Run run;
    std::uint64_t onGrid = 0;
    DoubleDouble sine, cosine;
    std::vector<std::pair<DoubleDouble, DoubleDouble>> turns;
};

Starts startsOf(const Segment& segment, std::size_t lanes)
{
    Starts starts;
    starts.run = runFrom(segment, lanes);
    starts.onGrid = (kBlock - segment.firstPass % kBlock) % kBlock;
    if (starts.onGrid >= segment.count)
        return starts;
    sinCosOfMultiple(segment.point(segment.firstPass + starts.onGrid), 1, starts.sine, starts.cosine);
    for (std::uint64_t blocks = 1; starts.onGrid + blocks * kBlock < segment.count; blocks *= 2) {
        auto& [sine, cosine] = starts.turns.emplace_back();
        // A power of two times the stride: exact.
        sinCosOfMultiple(segment.stride * static_cast<double>(blocks * kBlock), 1, sine, cosine);
    }
    return starts;
}

// The first point of a block that starts `first` points into a segment. Its
// sine and cosine take one turn for each binary digit of the blocks between
// it and the segment's first point on the grid: under 40 turns below 2^34
// radians, so within 2^-96 (turn), as the kernels ask.
void startInside(const Starts& starts, std::uint64_t first, kernel::Run& run)
{
    assert(first >= starts.onGrid && (first - starts.onGrid) % kBlock == 0);
    run.sinFirst = starts.sine;
    run.cosFirst = starts.cosine;
    std::uint64_t blocks = (first - starts.onGrid) / kBlock;
    for (std::size_t k = 0; blocks != 0; ++k, blocks >>= 1)
        if (blocks & 1)
            turn(run.sinFirst, run.cosFirst, starts.turns[k].first, starts.turns[k].second);
}

struct Buffer {
    std::unique_ptr<double[]> terms;
    std::atomic<bool> waiting{false}; // holds a block not yet added
};

struct Worker {
    Buffer buffers[2];
};

// A block whose terms are ready, waiting for its turn.
struct Slot {
    std::atomic<std::uint64_t> block{kNone};
    Buffer* buffer = nullptr;
    std::uint64_t count = 0;
    Counted counted;
    bool formed = true; // the block's terms are in the buffer, not only counted
};

Isa available(Isa isa)
{
    while (isa != Isa::Scalar && !isaSupported(isa))
        isa = isa == Isa::Avx512 ? Isa::Avx2 : Isa::Scalar;
    return isa;
}

ThreadFactory plainThreads()
{
    return [](std::function<void()> body) { return std::thread(std::move(body)); };
}

} // namespace

class Engine::Impl {
public:
    explicit Impl(const EngineSettings& settings);

    unsigned workers() const { return crew_->size(); }
    Isa isa() const { return isa_; }
    std::optional<Evaluation> evaluate(const Request& request, const ProgressFn& progress);

private:
    void work(unsigned index);
    Buffer* freeBuffer(Worker& worker);
    bool likelyLeavesBinade(std::uint64_t end) const;
    void drain();
    void stop();
    Counted computeTerms(std::uint64_t begin, std::uint64_t count, std::size_t& segment, double scale,
                         double* out, bool mayCount, bool& formed);

    const Isa isa_;
    const kernel::Kernel& kernel_;
    std::vector<Starts> starts_; // of the segments up to the largest limit
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<Slot> slots_;
    std::unique_ptr<Crew> crew_;
    std::mutex evaluating_;

    // One evaluation's state.
    const Request* request_ = nullptr;
    const ProgressFn* progress_ = nullptr;
    std::uint64_t blocks_ = 0;
    ExactSum sum_; // touched only by the worker that holds summing_
    std::atomic<double> publishedScale_{0.0};
    std::atomic<double> publishedSum_{0.0}; // S as of publishedScale_, give or take a block
    std::atomic<std::uint64_t> next_{0};
    std::atomic<std::uint64_t> added_{0};
    std::atomic<bool> summing_{false};
    std::atomic<bool> stopped_{false};
    std::atomic<std::uint64_t> events_{0}; // a block added, or the evaluation stopped
    std::mutex errorMutex_;
    std::exception_ptr error_;
};

Engine::Impl::Impl(const EngineSettings& settings)
    : isa_(available(settings.isa)), kernel_(kernel::forIsa(isa_)), sum_(kernel_.units)
{
    unsigned wanted = settings.workers != 0 ? settings.workers
                                            : std::max(1u, std::thread::hardware_concurrency());
    // Buffers first: a worker without them is a worker fewer. The caller
    // itself needs one pair.
    for (unsigned i = 0; i < wanted; ++i) {
        try {
            auto worker = std::make_unique<Worker>();
            for (Buffer& buffer : worker->buffers)
                buffer.terms = std::make_unique<double[]>(kBufferSize); // touched: zeroed
            workers_.push_back(std::move(worker));
        } catch (const std::bad_alloc&) {
            if (i == 0)
                throw;
            wanted = i;
            break;
        }
    }
    crew_ = std::make_unique<Crew>(wanted, settings.startThread ? settings.startThread : plainThreads(),
                                   [](const std::function<void()>& serve) {
                                       // Each thread keeps its multiple-precision numbers and
                                       // constants, made here; one that cannot have them
                                       // retires.
                                       SineScratch scratch;
                                       (void)correctSin(1.0);
                                       DoubleDouble s, c;
                                       sinCosOfMultiple(1.0, 1, s, c);
                                       serve();
                                   });
    workers_.resize(crew_->size());
    slots_ = std::vector<Slot>(2 * workers_.size());

    // Any plan's segments are the first ones of the largest plan, the last
    // of them cut short. The workers share out their multiple-precision
    // sines. Done on the calling thread alone (3.5 ms), they made the first
    // short evaluations after it run at about one worker's speed, the
    // scheduler apparently keeping both workers on the processor that had
    // been idle.
    const std::vector<Segment> segments = planPasses(std::nextafter(kLimitBound, 0.0)).segments;
    starts_.resize(segments.size());
    const SineScratch scratch; // for the calling thread, when it is the only one
    crew_->run([&](unsigned index) {
        try {
            for (std::size_t i = index; i < segments.size(); i += workers_.size())
                starts_[i] = startsOf(segments[i], kernel_.lanes);
        } catch (...) {
            std::lock_guard lock(errorMutex_);
            error_ = std::current_exception();
        }
    });
    if (error_)
        std::rethrow_exception(error_);

    // One block for every buffer, so that the first evaluation finds the
    // kernels' code, the buffers and the hand-over already warm.
    const Request warmUp = firstKindRequest(2 * workers_.size() * kBlock * kStep, 45);
    evaluate(warmUp, {});
}

std::optional<Evaluation> Engine::Impl::evaluate(const Request& request, const ProgressFn& progress)
{
    std::lock_guard lock(evaluating_);
    if (request.plan.passes == 0)
        return Evaluation{};
    const SineScratch scratch; // for the calling thread, when it is the only one

    request_ = &request;
    progress_ = &progress;
    blocks_ = (request.plan.passes + kBlock - 1) / kBlock;
    sum_ = ExactSum(kernel_.units);
    publishedScale_ = 0.0;
    publishedSum_ = 0.0;
    next_ = 0;
    added_ = 0;
    summing_ = false;
    stopped_ = false;
    events_ = 0;
    error_ = nullptr;
    for (const auto& worker : workers_)
        for (Buffer& buffer : worker->buffers)
            buffer.waiting = false;
    for (Slot& slot : slots_)
        slot.block = kNone;

    crew_->run([this](unsigned index) { work(index); });

    if (error_)
        std::rethrow_exception(error_);
    if (stopped_)
        return std::nullopt;
    return Evaluation{sum_.value(), request.plan.passes, request.plan.lastCounter};
}

void Engine::Impl::work(unsigned index)
{
    Worker& me = *workers_[index];
    std::size_t segment = 0; // only moves forward for one worker
    try {
        for (;;) {
            Buffer* buffer = freeBuffer(me);
            if (!buffer)
                return;
            const std::uint64_t block = next_.fetch_add(1);
            if (block >= blocks_ || stopped_)
                return;
            buffer->waiting.store(true, std::memory_order_relaxed);
            const std::uint64_t begin = block * kBlock;
            const std::uint64_t count = std::min(kBlock, request_->plan.passes - begin);
            bool formed = true;
            const Counted counted =
                computeTerms(begin, count, segment, publishedScale_.load(std::memory_order_relaxed),
                             buffer->terms.get(), !likelyLeavesBinade(begin + count), formed);

            Slot& slot = slots_[block % slots_.size()];
            slot.counted = counted;
            slot.formed = formed;
            slot.buffer = buffer;
            slot.count = count;
            slot.block.store(block);
            drain();
        }
    } catch (...) {
        {
            std::lock_guard lock(errorMutex_);
            if (!error_)
                error_ = std::current_exception();
        }
        stop();
    }
}

void Engine::Impl::stop()
{
    stopped_ = true;
    ++events_;
    events_.notify_all();
}

// Claiming a block needs a free buffer, so no more blocks wait than there are
// buffers, and the ring of slots never wraps onto a block still waiting. A
// worker whose buffers both wait sleeps until a block is added: spinning
// would take the processor from the worker it waits for.
Buffer* Engine::Impl::freeBuffer(Worker& worker)
{
    for (;;) {
        const std::uint64_t seen = events_.load();
        for (Buffer& buffer : worker.buffers)
            if (!buffer.waiting.load(std::memory_order_acquire))
                return &buffer;
        if (stopped_)
            return nullptr;
        drain();
        events_.wait(seen);
    }
}

// Adds every block that is ready, in order, if no other worker is doing so.
// A worker that finds the sum busy leaves its block to the one that holds
// it, which looks again after letting go.
void Engine::Impl::drain()
{
    for (;;) {
        if (summing_.exchange(true))
            return;
        std::uint64_t done = added_.load();
        while (done < blocks_ && !stopped_) {
            Slot& slot = slots_[done % slots_.size()];
            if (slot.block.load() != done)
                break;
            if (!sum_.addCounted(slot.counted)) {
                // Counted for a scale that S has left, or with a tie: its
                // terms after all, seldom (a few blocks a binade).
                double* terms = slot.buffer->terms.get();
                if (!slot.formed) {
                    std::size_t segment = 0;
                    bool formed = true;
                    computeTerms(done * kBlock, slot.count, segment, 0.0, terms, false, formed);
                }
                sum_.addTerms(terms, slot.count);
            }
            if (std::isinf(sum_.value())) // only an infinite term, a root of 0, gets it there
                throw RuntimeError(RuntimeError::DivisionByZero);
            publishedScale_.store(sum_.scale(), std::memory_order_relaxed);
            publishedSum_.store(sum_.value(), std::memory_order_relaxed);
            slot.buffer->waiting.store(false, std::memory_order_release);
            added_.store(++done);
            ++events_;
            events_.notify_all();
            if (*progress_ && !(*progress_)(std::min(done * kBlock, request_->plan.passes)))
                stop();
        }
        summing_.store(false);
        if (done >= blocks_ || stopped_ || slots_[done % slots_.size()].block.load() != done)
            return;
    }
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
    const std::uint64_t added = std::min(added_.load(std::memory_order_relaxed) * kBlock, end);
    if (scale == 0.0 || added == 0)
        return true;
    const double ahead = static_cast<double>(end - added);
    return sum + 2 * ahead * (sum / static_cast<double>(added)) >= 0x1p53 / scale;
}

// The terms of passes [begin, begin + count), run by run, counted for
// `scale` unless it is 0. With mayCount, a first-kind run that the counting
// kernel takes (kernel_count.h: where its bound leaves few lanes in doubt for
// this scale and m) is only counted, and `formed` cleared. The buffer's
// padding to a multiple of 8 is left zero, as ExactSum reads it.
Counted Engine::Impl::computeTerms(std::uint64_t begin, std::uint64_t count, std::size_t& segment, double scale,
                                   double* out, bool mayCount, bool& formed)
{
    mayCount = mayCount && kernel_.count && request_->kind == Kind::First && scale != 0.0;
    Counted counted{scale, 0.0, true};
    const auto& segments = request_->plan.segments;
    for (std::uint64_t i = 0; i < count;) {
        const std::uint64_t pass = begin + i;
        while (segments[segment].firstPass + segments[segment].count <= pass)
            ++segment;
        const Segment& s = segments[segment];
        const std::uint64_t n = std::min(count - i, s.firstPass + s.count - pass);
        // A plan's segments are the first ones of the largest plan.
        const Starts& starts = starts_[segment];
        assert(starts.run.base == s.base && starts.run.stride == s.stride);
        kernel::Run run = starts.run;
        run.first = static_cast<double>(pass - s.firstPass);
        run.count = n;
        if (pass != s.firstPass)
            startInside(starts, pass - s.firstPass, run);
        bool exact = true;
        double units = std::nan("");
        if (mayCount)
            units = kernel_.count(run, request_->m, scale, &exact);
        if (std::isnan(units))
            units = kernel_.terms(run, request_->m, request_->kind, scale, out + i, &exact);
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

Request firstKindRequest(double phi, double degrees)
{
    if (!std::isfinite(phi) || phi >= kLimitBound)
        throw InputRefused(InputRefused::LimitTooLarge, kStep, kLimitBound);
    return Request{planPasses(phi), squaredSine(kDegreeFactor * degrees), Kind::First, phi};
}

Request secondKindRequest()
{
    return Request{planPasses(kSecondKindEnd), squaredSine(kDegreeFactor * kSecondKindDegrees), Kind::Second, kSecondKindEnd};
}

Engine::Engine(EngineSettings settings) : impl_(std::make_unique<Impl>(settings)) {}
Engine::~Engine() = default;

unsigned Engine::workers() const { return impl_->workers(); }
Isa Engine::isa() const { return impl_->isa(); }

std::optional<Evaluation> Engine::evaluate(const Request& request, const ProgressFn& progress)
{
    return impl_->evaluate(request, progress);
}

} // namespace quadrilo
