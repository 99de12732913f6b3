#include "compute/threads/ordered_pipeline.h"

#include <exception>

namespace quadrilo {

namespace {
constexpr std::uint64_t kNone = ~std::uint64_t{0};
}

// An item made and waiting for its turn. Storing `item` publishes `buffer`
// and what the maker wrote into it.
struct OrderedPipeline::Slot {
    std::atomic<std::uint64_t> item{kNone};
    unsigned buffer = 0;
};

OrderedPipeline::OrderedPipeline(Crew& crew)
    : crew_(crew),
      buffers_(2 * crew.size()),
      waiting_(std::make_unique<std::atomic<bool>[]>(buffers_)),
      slots_(std::make_unique<Slot[]>(buffers_))
{
}

OrderedPipeline::~OrderedPipeline() = default;

bool OrderedPipeline::run(std::uint64_t items, const Make& make, const Use& use)
{
    make_ = &make;
    use_ = &use;
    items_ = items;
    next_ = 0;
    used_ = 0;
    using_ = false;
    stopped_ = false;
    events_ = 0;
    for (unsigned i = 0; i < buffers_; ++i) {
        waiting_[i] = false;
        slots_[i].item = kNone;
    }
    crew_.run([this](unsigned worker) { work(worker); });
    return !stopped_;
}

void OrderedPipeline::work(unsigned worker)
{
    try {
        for (;;) {
            unsigned buffer = 0;
            if (!claimBuffer(worker, buffer))
                return;
            const std::uint64_t item = next_.fetch_add(1);
            if (item >= items_ || stopped_)
                return;
            waiting_[buffer].store(true, std::memory_order_relaxed);
            (*make_)(item, buffer);
            Slot& slot = slots_[item % buffers_];
            slot.buffer = buffer;
            slot.item.store(item);
            drain();
        }
    } catch (...) {
        stop();
        throw; // the crew carries the first one to run()'s caller
    }
}

void OrderedPipeline::stop()
{
    stopped_ = true;
    signal();
}

// The count changes under the mutex, so a worker between its last look and
// its sleep cannot miss it.
void OrderedPipeline::signal()
{
    {
        std::lock_guard lock(sleep_);
        ++events_;
    }
    woken_.notify_all();
}

void OrderedPipeline::sleepPast(std::uint64_t seen)
{
    std::unique_lock lock(sleep_);
    woken_.wait(lock, [&] { return events_.load() != seen; });
}

// Making an item needs a free buffer, so no more items wait than there are
// buffers, and the ring of slots never wraps onto an item still waiting. A
// worker whose buffers both wait sleeps until an item is used: spinning
// would take the processor from the worker it waits for.
bool OrderedPipeline::claimBuffer(unsigned worker, unsigned& buffer)
{
    for (;;) {
        const std::uint64_t seen = events_.load();
        for (buffer = 2 * worker; buffer < 2 * worker + 2; ++buffer)
            if (!waiting_[buffer].load(std::memory_order_acquire))
                return true;
        if (stopped_)
            return false;
        drain();
        sleepPast(seen);
    }
}

// Uses every item that is ready, in order, if no other worker is doing so.
// A worker that finds the stage busy leaves its item to the one that holds
// it, which looks again after letting go.
void OrderedPipeline::drain()
{
    for (;;) {
        if (using_.exchange(true))
            return;
        std::uint64_t done = used_.load();
        while (done < items_ && !stopped_) {
            Slot& slot = slots_[done % buffers_];
            if (slot.item.load() != done)
                break;
            const bool goOn = (*use_)(done, slot.buffer);
            waiting_[slot.buffer].store(false, std::memory_order_release);
            used_.store(++done);
            signal();
            if (!goOn)
                stop();
        }
        using_.store(false);
        if (done >= items_ || stopped_ || slots_[done % buffers_].item.load() != done)
            return;
    }
}

} // namespace quadrilo
