#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quadrilo {

// Starts a thread running `body`; throws (std::system_error, as std::thread
// does) when the system has no thread to give. Empty: std::thread.
using ThreadFactory = std::function<std::thread(std::function<void()> body)>;

// Runs on each thread that starts: it sets the thread up, with whatever must
// live as long as the thread, and then calls `serve`, which returns when the
// crew closes. A thread whose set-up throws before it serves is retired.
using ThreadSetUp = std::function<void(const std::function<void()>& serve)>;

// Threads kept for the life of their owner, so that an evaluation does not
// wait for a new thread to be scheduled. The thread that calls run() is one
// of the workers, as oneTBB's arena counts its master: asked for n workers,
// the crew starts n - 1 helpers and keeps as many as the system gives and can
// set up, down to none, when the caller does all the work.
class Crew {
public:
    Crew(unsigned wanted, const ThreadFactory& start, const ThreadSetUp& setUp);
    ~Crew();
    Crew(const Crew&) = delete;
    Crew& operator=(const Crew&) = delete;

    // Workers: the helpers and the caller.
    unsigned size() const;

    // Runs job(0) on the calling thread and job(i) for every other i below
    // size() on the helpers, and returns when all have returned; then
    // rethrows the first exception that any of them threw. One caller at a
    // time, never a helper.
    void run(const std::function<void(unsigned)>& job);

private:
    void serve(std::size_t slot, const ThreadSetUp& setUp);
    void work();

    std::vector<std::thread> threads_;
    std::vector<char> retired_; // by position in threads_
    unsigned ready_ = 0;        // helpers that serve, numbered from 1
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const std::function<void(unsigned)>* job_ = nullptr;
    std::size_t pending_ = 0;
    std::exception_ptr error_; // the first that a helper threw in this run
    std::uint64_t generation_ = 0;
    bool closing_ = false;
};

} // namespace quadrilo
