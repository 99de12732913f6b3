#include "compute/crew.h"

namespace quadrilo {

Crew::Crew(unsigned wanted, const ThreadFactory& start, const std::function<void(unsigned)>& prepare)
{
    // A thread that cannot be had is simply not there. The ones already
    // started wait only for the lock and the notice that the destructor
    // gives, so nothing is left waiting whichever start fails.
    threads_.reserve(wanted);
    for (unsigned i = 0; i < wanted; ++i) {
        try {
            threads_.push_back(start([this, i, &prepare] { serve(i, prepare); }));
        } catch (...) {
            break;
        }
    }
    // Each thread has run `prepare`, which refers to the caller's function,
    // before the constructor returns.
    std::unique_lock lock(mutex_);
    pending_ = threads_.size();
    wake_.notify_all();
    done_.wait(lock, [this] { return pending_ == 0; });
}

Crew::~Crew()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_)
        t.join();
}

unsigned Crew::size() const
{
    return threads_.empty() ? 1u : static_cast<unsigned>(threads_.size());
}

void Crew::run(const std::function<void(unsigned)>& job)
{
    if (threads_.empty()) {
        job(0);
        return;
    }
    std::unique_lock lock(mutex_);
    job_ = &job;
    pending_ = threads_.size();
    ++generation_;
    wake_.notify_all();
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
}

void Crew::serve(unsigned index, const std::function<void(unsigned)>& prepare)
{
    {
        // The constructor counts the threads that started only once it has
        // tried them all, so wait for it before reporting.
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return pending_ != 0 || closing_; });
    }
    prepare(index);
    std::uint64_t seen = 0;
    {
        std::lock_guard lock(mutex_);
        seen = generation_;
        if (--pending_ == 0)
            done_.notify_all();
    }
    for (;;) {
        const std::function<void(unsigned)>* job = nullptr;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return closing_ || generation_ != seen; });
            if (closing_)
                return;
            seen = generation_;
            job = job_;
        }
        (*job)(index);
        std::lock_guard lock(mutex_);
        if (--pending_ == 0)
            done_.notify_all();
    }
}

} // namespace quadrilo
