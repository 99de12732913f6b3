#pragma once

#include "compute/threads/crew.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace quadrilo {

// Items 0 to n - 1, each made by one of a crew's workers, in parallel, and
// then used one at a time in the order of their index, by whichever worker
// finds the in-order stage free. Each worker makes into two buffers of its
// own, numbered worker * 2 and worker * 2 + 1, which the caller owns: at most
// two items a worker are ever made and not yet used, however many there are.
//
// A worker whose two buffers both wait for their turn helps the in-order
// stage, then sleeps until an item is used.
class OrderedPipeline {
public:
    // Called on any worker, for different items at once.
    using Make = std::function<void(std::uint64_t item, unsigned buffer)>;
    // Called for one item at a time, in order, after its make returned and
    // on a thread that sees what it wrote. Returning false stops the run.
    using Use = std::function<bool(std::uint64_t item, unsigned buffer)>;

    explicit OrderedPipeline(Crew& crew);
    ~OrderedPipeline();
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;

    unsigned buffers() const { return buffers_; }

    // Makes and uses items [0, items). Returns false when `use` stopped it.
    // When make or use throws, the other workers stop after the item they
    // hold, and the first exception is rethrown here. One caller at a time.
    bool run(std::uint64_t items, const Make& make, const Use& use);

    // Items used so far in this run: a hint for the makers, since it may
    // already be larger when they read it.
    std::uint64_t used() const { return used_.load(std::memory_order_relaxed); }

private:
    struct Slot;

    void work(unsigned worker);
    bool claimBuffer(unsigned worker, unsigned& buffer);
    void drain();
    void stop();
    void signal();
    void sleepPast(std::uint64_t seen);

    Crew& crew_;
    const unsigned buffers_;
    std::unique_ptr<std::atomic<bool>[]> waiting_; // a buffer holds an item not yet used
    std::unique_ptr<Slot[]> slots_;                // item i waits in slot i % buffers_

    const Make* make_ = nullptr;
    const Use* use_ = nullptr;
    std::uint64_t items_ = 0;
    std::atomic<std::uint64_t> next_{0};
    std::atomic<std::uint64_t> used_{0};
    std::atomic<bool> using_{false};
    std::atomic<bool> stopped_{false};
    // An item used, or the run stopped. Workers sleep on it with a mutex and
    // a condition variable: std::atomic::wait would do on Linux, but
    // libstdc++ 12 builds it without futexes on Windows, and there wake-ups
    // can be lost.
    std::atomic<std::uint64_t> events_{0};
    std::mutex sleep_;
    std::condition_variable woken_;
};

} // namespace quadrilo
