// The rectangle sums of reference.cpp, computed in parallel with the same
// bits.
//
// Pass points: planPasses splits them into a few dozen arithmetic segments,
// so any block of passes can be generated exactly and independently.
//
// Terms: each worker computes the terms of its blocks with the vector kernel
// of the best instruction set; every kernel rounds every step as the
// reference does and uses the same sine, so the terms are bit-identical.
//
// Sum: S = fl(t + S) in increasing theta is a serial chain, but while S stays
// in one binade [2^(e-1), 2^e) with ulp u = 2^(e-53), fl(S + t) = S + u *
// round(t / u): the terms add as integers, in any order. The blocks are
// therefore summed one after another, each in one vector step: K = sum of
// round(t_i / u), then S + K * u, exact while S / u + K < 2^53. A block where
// S is 0, where some t_i / u is a tie (its rounding would depend on the
// parity of S) or large, or where S would leave its binade, is added term by
// term instead, exactly as the reference does.
#include "compute/engine.h"

#include "compute/reference.h"
#include "platform/errors.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace quadrilo {
namespace {

constexpr std::uint64_t kBlock = 1u << 14;
constexpr std::uint64_t kPad = 8;        // the widest vector
constexpr std::uint64_t kSubBlock = 256; // the retry size when a whole block cannot add as integers

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
        const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
        const auto workers = static_cast<unsigned>(std::min<std::uint64_t>(cores, blocks_));
        // Each worker may run a few blocks ahead of the sum; memory stays
        // bounded by the ring, whatever the number of passes.
        slots_ = std::vector<Slot>(4 * std::max(1u, workers));
        for (Slot& slot : slots_)
            slot.terms.resize(kBlock + kPad);
        {
            std::vector<std::jthread> threads;
            for (unsigned w = 1; w < workers; ++w)
                threads.emplace_back([this] { work(); });
            work();
        } // joins
        if (error_)
            std::rethrow_exception(error_);
        if (stopped_)
            return std::nullopt;
        return Evaluation{sum_, plan_.passes, plan_.lastCounter};
    }

private:
    struct Slot {
        std::vector<double> terms;
        std::uint64_t count = 0;
        std::atomic<std::uint64_t> block{kNone}; // the block whose terms it holds
    };
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};

    void work()
    {
        std::vector<double> theta(kBlock + kPad);
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
                const std::uint64_t padded = (count + kPad - 1) / kPad * kPad;
                fillPoints(begin, count, segment, theta.data());
                std::fill(theta.begin() + static_cast<std::ptrdiff_t>(count),
                          theta.begin() + static_cast<std::ptrdiff_t>(padded), 0.0);
                if (!kernel_.terms(theta.data(), slot.terms.data(), padded, m_, reciprocal_))
                    throw RuntimeError(RuntimeError::DivisionByZero);
                std::fill(slot.terms.begin() + static_cast<std::ptrdiff_t>(count),
                          slot.terms.begin() + static_cast<std::ptrdiff_t>(padded), 0.0);
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
                add(slot.terms.data(), slot.count);
                reduced_.store(++done);
                if (progress_ && !progress_(std::min(done * kBlock, plan_.passes)))
                    stopped_ = true;
            }
            summing_.store(false);
            if (done >= blocks_ || stopped_ || slots_[done % slots_.size()].block.load() != done)
                return;
        }
    }

    // The points of passes [begin, begin + count); segments only move forward
    // for one worker, so `segment` remembers where its last block ended.
    void fillPoints(std::uint64_t begin, std::uint64_t count, std::size_t& segment, double* out) const
    {
        for (std::uint64_t i = 0; i < count;) {
            const std::uint64_t pass = begin + i;
            while (plan_.segments[segment].firstPass + plan_.segments[segment].count <= pass)
                ++segment;
            const Segment& s = plan_.segments[segment];
            const std::uint64_t n = std::min(count - i, s.firstPass + s.count - pass);
            kernel_.points(s.base, s.stride, static_cast<double>(pass - s.firstPass), out + i, n);
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

    // count is a multiple of 8, or the terms are padded with zeros to one.
    bool addAsIntegers(const double* terms, std::uint64_t count)
    {
        const double s = sum_;
        if (!(s > 0.0))
            return false;
        int exponent = 0;
        std::frexp(s, &exponent);
        const double scale = std::ldexp(1.0, 53 - exponent); // 1 / ulp(s)
        bool exact = false;
        const double units = kernel_.units(terms, (count + kPad - 1) / kPad * kPad, scale, &exact);
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
