// The rectangle sums of reference.cpp, computed in parallel with the same
// bits.
//
// Pass points: planPasses splits them into a few dozen arithmetic segments,
// so any block of passes can be generated exactly and independently.
//
// Terms: each worker computes the terms of its blocks with the kernel of the
// best instruction set. The sine is correctly rounded in every kernel (see
// kernel_simd.h), and every other step is rounded as the reference rounds
// it, so the terms are bit-identical.
//
// Sum: S = fl(t + S) in increasing theta is a serial chain, but while S stays
// in one binade [2^(e-1), 2^e) with ulp u = 2^(e-53), fl(S + t) = S + u *
// round(t / u): the terms add as integers, in any order. The blocks are
// therefore summed one after another, each in one vector step: K = sum of
// round(t_i / u), then S + K * u, exact while S / u + K < 2^53. A block where
// S is 0, where some t_i / u is a tie (its rounding would depend on the
// parity of S) or large, or where S would leave its binade, is retried in
// pieces of 256 terms, and a piece that still cannot is added term by term,
// exactly as the reference does.
//
// Memory: a ring of eight blocks of terms, whatever the number of passes.
// Cancelling: the progress callback runs after every block is added.
#include "compute/engine.h"

#include "compute/reference.h"
#include "compute/sine.h"
#include "platform/errors.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cmath>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quadrilo {
namespace {

constexpr std::uint64_t kBlock = 1u << 15;
constexpr std::uint64_t kPad = kernel::kLanes; // kernels write whole rows of lanes
constexpr std::uint64_t kSubBlock = 256; // the retry size when a whole block cannot add as integers

// The blocks' buffers are kept from one evaluation to the next, so that a
// short evaluation does not pay for fresh pages. There are never more than
// the ring of the largest evaluation so far: a few megabytes.
class BufferPool {
public:
    static constexpr std::size_t kSize = kBlock + kPad;

    std::unique_ptr<double[]> take()
    {
        std::lock_guard lock(mutex_);
        if (free_.empty())
            return std::unique_ptr<double[]>(new double[kSize]);
        auto buffer = std::move(free_.back());
        free_.pop_back();
        return buffer;
    }
    void give(std::unique_ptr<double[]> buffer)
    {
        std::lock_guard lock(mutex_);
        free_.push_back(std::move(buffer));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<double[]>> free_;
};

BufferPool& buffers()
{
    static BufferPool pool;
    return pool;
}

// The sines and rotations that every evaluation needs again: the pass points
// are the same whatever the upper limit, and so are the segments' starts and
// strides. Each binade adds at most one segment and a couple of single
// points, so this stays at a few hundred entries.
class TrigCache {
public:
    double sine(double theta)
    {
        {
            std::lock_guard lock(mutex_);
            if (const auto it = sines_.find(theta); it != sines_.end())
                return it->second;
        }
        const double value = correctSin(theta);
        std::lock_guard lock(mutex_);
        sines_.emplace(theta, value);
        return value;
    }

    // A run from the segment's start, with every constant but the count.
    kernel::Run runOf(const Segment& segment)
    {
        const auto key = std::make_pair(segment.base, segment.stride);
        {
            std::lock_guard lock(mutex_);
            if (const auto it = runs_.find(key); it != runs_.end())
                return it->second;
        }
        kernel::Run run;
        run.base = segment.base;
        run.stride = segment.stride;
        sinCosOfMultiple(segment.base, 1, run.sinFirst, run.cosFirst);
        sinCosOfMultiple(segment.stride, 1, run.sinStride, run.cosStride);
        DoubleDouble sinLeap;
        sinCosOfMultiple(segment.stride, kernel::kLanes, sinLeap, run.cosLeap);
        std::lock_guard lock(mutex_);
        runs_.emplace(key, run);
        return run;
    }

private:
    std::mutex mutex_;
    std::map<double, double> sines_;
    std::map<std::pair<double, double>, kernel::Run> runs_;
};

TrigCache& trig()
{
    static TrigCache cache;
    return cache;
}

// Helper threads kept for the life of the program. A thread made afresh for
// each evaluation starts on its maker's busy core and waits there for the
// scheduler to move it, which costs more than a short evaluation takes.
class Helpers {
public:
    Helpers()
    {
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 1; i < cores; ++i)
            threads_.emplace_back([this] { serve(); });
    }
    ~Helpers()
    {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }

    unsigned count() const { return static_cast<unsigned>(threads_.size()); }

    // Runs `job` on every helper and on the calling thread, and returns when
    // all have finished. One caller at a time.
    void runEverywhere(const std::function<void()>& job)
    {
        std::lock_guard caller(callerMutex_);
        {
            std::lock_guard lock(mutex_);
            job_ = &job;
            pending_ = threads_.size();
            ++generation_;
        }
        wake_.notify_all();
        job();
        std::unique_lock lock(mutex_);
        done_.wait(lock, [this] { return pending_ == 0; });
        job_ = nullptr;
    }

private:
    void serve()
    {
        std::uint64_t seen = 0;
        for (;;) {
            const std::function<void()>* job = nullptr;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return closing_ || generation_ != seen; });
                if (closing_)
                    return;
                seen = generation_;
                job = job_;
            }
            (*job)();
            std::lock_guard lock(mutex_);
            if (--pending_ == 0)
                done_.notify_one();
        }
    }

    std::vector<std::thread> threads_;
    std::mutex callerMutex_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void()>* job_ = nullptr;
    std::size_t pending_ = 0;
    std::uint64_t generation_ = 0;
    bool closing_ = false;
};

Helpers& helpers()
{
    static Helpers pool;
    return pool;
}

class Summation {
public:
    Summation(const PassPlan& plan, double m, bool reciprocal, const ProgressFn& progress,
              const kernel::Kernel& kernel)
        : plan_(plan), m_(m), reciprocal_(reciprocal), progress_(progress), kernel_(kernel),
          blocks_((plan.passes + kBlock - 1) / kBlock)
    {
    }

    std::optional<Evaluation> run()
    {
        const bool alone = blocks_ < 2;
        const unsigned workers = alone ? 1 : helpers().count() + 1;
        // Each worker may run a few blocks ahead of the sum; memory stays
        // bounded by the ring, whatever the number of passes.
        slots_ = std::vector<Slot>(4 * workers);
        for (Slot& slot : slots_)
            slot.terms = buffers().take();
        if (alone)
            work();
        else
            helpers().runEverywhere([this] { work(); });
        if (error_)
            std::rethrow_exception(error_);
        if (stopped_)
            return std::nullopt;
        return Evaluation{sum_, plan_.passes, plan_.lastCounter};
    }

private:
    struct Slot {
        std::unique_ptr<double[]> terms;
        ~Slot()
        {
            if (terms)
                buffers().give(std::move(terms));
        }
        std::uint64_t count = 0;
        std::atomic<std::uint64_t> block{kNone}; // the block whose terms it holds
    };
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};

    void work()
    {
        std::size_t segment = 0;
        try {
            for (;;) {
                const std::uint64_t block = next_.fetch_add(1);
                if (block >= blocks_ || stopped_)
                    break;
                Slot& slot = slots_[block % slots_.size()];
                while (block - reduced_.load() >= slots_.size()) { // the slot is still in use
                    if (stopped_)
                        return;
                    std::this_thread::yield();
                }
                const std::uint64_t begin = block * kBlock;
                const std::uint64_t count = std::min(kBlock, plan_.passes - begin);
                const std::uint64_t padded = (count + 7) / 8 * 8;
                computeTerms(begin, count, segment, slot.terms.get());
                std::fill(slot.terms.get() + count, slot.terms.get() + padded, 0.0);
                slot.count = count;
                slot.block.store(block);
                drain();
            }
        } catch (...) {
            std::lock_guard lock(errorMutex_);
            if (!error_)
                error_ = std::current_exception();
            stopped_ = true;
        }
    }

    // Adds every block that is ready, in order, if no other worker is doing
    // so. A worker that finds the sum busy leaves its block to the one that
    // holds it, which looks again after letting go.
    void drain()
    {
        for (;;) {
            if (summing_.exchange(true))
                return;
            std::uint64_t done = reduced_.load();
            while (done < blocks_ && !stopped_) {
                Slot& slot = slots_[done % slots_.size()];
                if (slot.block.load() != done)
                    break;
                add(slot.terms.get(), slot.count);
                reduced_.store(++done);
                if (progress_ && !progress_(std::min(done * kBlock, plan_.passes)))
                    stopped_ = true;
            }
            summing_.store(false);
            if (done >= blocks_ || stopped_ || slots_[done % slots_.size()].block.load() != done)
                return;
        }
    }

    // The terms of passes [begin, begin + count), run by run; segments only
    // move forward for one worker, so `segment` remembers where it was.
    void computeTerms(std::uint64_t begin, std::uint64_t count, std::size_t& segment, double* out)
    {
        for (std::uint64_t i = 0; i < count;) {
            const std::uint64_t pass = begin + i;
            while (plan_.segments[segment].firstPass + plan_.segments[segment].count <= pass)
                ++segment;
            const Segment& s = plan_.segments[segment];
            const std::uint64_t n = std::min(count - i, s.firstPass + s.count - pass);
            const double first = static_cast<double>(pass - s.firstPass);
            if (n < kernel::kLanes) {
                // A few points alone, below 2^-17 or where a binade ends.
                for (std::uint64_t j = 0; j < n; ++j) {
                    const double sine = trig().sine(s.base + (first + static_cast<double>(j)) * s.stride);
                    const double r = std::sqrt(1.0 - m_ * (sine * sine));
                    if (reciprocal_ && r == 0.0)
                        throw RuntimeError(RuntimeError::DivisionByZero);
                    out[i + j] = (reciprocal_ ? 1.0 / r : r) * kStep;
                }
            } else {
                kernel::Run run = trig().runOf(s);
                run.first = first;
                run.count = n;
                if (first != 0.0)
                    sinCosOfMultiple(s.base + first * s.stride, 1, run.sinFirst, run.cosFirst);
                if (!kernel_.terms(run, m_, reciprocal_, out + i))
                    throw RuntimeError(RuntimeError::DivisionByZero);
            }
            i += n;
        }
    }

    void add(const double* terms, std::uint64_t count)
    {
        if (addAsIntegers(terms, count))
            return;
        for (std::uint64_t i = 0; i < count; i += kSubBlock) {
            const std::uint64_t n = std::min(kSubBlock, count - i);
            if (!addAsIntegers(terms + i, n))
                for (std::uint64_t j = i; j < i + n; ++j)
                    sum_ = terms[j] + sum_;
        }
    }

    // The terms are padded with zeros to a multiple of 8.
    bool addAsIntegers(const double* terms, std::uint64_t count)
    {
        const double s = sum_;
        if (!(s > 0.0))
            return false;
        int exponent = 0;
        std::frexp(s, &exponent);
        const double scale = std::ldexp(1.0, 53 - exponent); // 1 / ulp(s)
        bool exact = false;
        const double units = kernel_.units(terms, (count + 7) / 8 * 8, scale, &exact);
        if (!exact || s * scale + units > 0x1p53 - 1)
            return false;
        sum_ = s + units / scale;
        return true;
    }

    const PassPlan& plan_;
    const double m_;
    const bool reciprocal_;
    const ProgressFn& progress_;
    const kernel::Kernel& kernel_;
    const std::uint64_t blocks_;

    std::vector<Slot> slots_;
    double sum_ = 0.0; // touched only by the worker that holds summing_
    std::atomic<std::uint64_t> next_{0};
    std::atomic<std::uint64_t> reduced_{0};
    std::atomic<bool> summing_{false};
    std::atomic<bool> stopped_{false};
    std::mutex errorMutex_;
    std::exception_ptr error_;
};

std::optional<Evaluation> evaluate(double end, double m, bool reciprocal,
                                   const ProgressFn& progress, Isa isa)
{
    const PassPlan plan = planPasses(end);
    if (plan.passes == 0)
        return Evaluation{};
    if (!isaSupported(isa))
        isa = Isa::Scalar;
    return Summation(plan, m, reciprocal, progress, kernel::forIsa(isa)).run();
}

} // namespace

void checkUpperLimit(double phi)
{
    if (!std::isfinite(phi) || phi >= kLimitBound)
        throw InputRefused("Il limite superiore è troppo grande: con il passo 0,000001 il calcolo "
                           "non finirebbe mai. Inserire un valore minore di 17179869184.");
}

std::optional<Evaluation> firstKind(double phi, double degrees, const ProgressFn& progress, Isa isa)
{
    checkUpperLimit(phi);
    return evaluate(phi, squaredSine(kPi / 180 * degrees), true, progress, isa);
}

std::optional<Evaluation> secondKind(const ProgressFn& progress, Isa isa)
{
    return evaluate(kSecondKindEnd, squaredSine(kPi / 180 * 5), false, progress, isa);
}

} // namespace quadrilo
