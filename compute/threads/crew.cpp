#include "compute/threads/crew.h"

#include <utility>

namespace quadrilo {

Crew::Crew(unsigned wanted, const ThreadFactory& start, const ThreadSetUp& setUp)
{
    // A thread that cannot be had is simply not there. The ones already
    // started wait only for the lock and the notice that the destructor
    // gives, so nothing is left waiting whichever start fails.
    const std::size_t helpers = wanted > 1 ? wanted - 1 : 0;
    threads_.reserve(helpers);
    retired_.assign(helpers, 0);
    for (std::size_t i = 0; i < helpers; ++i) {
        try {
            std::function<void()> body = [this, i, &setUp] { serve(i, setUp); };
            threads_.push_back(start ? start(std::move(body)) : std::thread(std::move(body)));
        } catch (...) {
            break;
        }
    }
    // Each thread has set itself up, with the caller's function, or retired
    // before the constructor returns.
    {
        std::unique_lock lock(mutex_);
        pending_ = threads_.size();
        wake_.notify_all();
        done_.wait(lock, [this] { return pending_ == 0; });
    }
    for (std::size_t i = threads_.size(); i-- > 0;)
        if (retired_[i]) {
            threads_[i].join();
            threads_.erase(threads_.begin() + static_cast<std::ptrdiff_t>(i));
        }
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
    return static_cast<unsigned>(threads_.size()) + 1;
}

void Crew::run(const std::function<void(unsigned)>& job)
{
    if (threads_.empty()) {
        job(0);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        job_ = &job;
        pending_ = threads_.size();
        error_ = nullptr;
        ++generation_;
    }
    wake_.notify_all();
    std::exception_ptr mine;
    try {
        job(0);
    } catch (...) {
        mine = std::current_exception();
    }
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
    if (!mine)
        mine = std::exchange(error_, nullptr);
    if (mine)
        std::rethrow_exception(mine);
}

void Crew::serve(std::size_t slot, const ThreadSetUp& setUp)
{
    {
        // The constructor counts the threads that started only once it has
        // tried them all, so wait for it before reporting.
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return pending_ != 0 || closing_; });
    }
    bool served = false;
    try {
        setUp([&] {
            served = true;
            work();
        });
    } catch (...) {
    }
    if (!served) {
        std::lock_guard lock(mutex_);
        retired_[slot] = 1;
        if (--pending_ == 0)
            done_.notify_all();
    }
}

void Crew::work()
{
    unsigned index = 1; // 0 is the caller's
    std::uint64_t seen = 0;
    {
        std::lock_guard lock(mutex_);
        index = ++ready_;
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
        std::exception_ptr thrown;
        try {
            (*job)(index);
        } catch (...) {
            thrown = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        if (thrown && !error_)
            error_ = thrown;
        if (--pending_ == 0)
            done_.notify_all();
    }
}

} // namespace quadrilo
