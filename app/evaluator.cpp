#include "app/evaluator.h"

#include <QMetaObject>

#include <system_error>

Evaluator::Evaluator(quadrilo::ThreadFactory startThread, quadrilo::PeriodSettings periods, QObject* parent)
    : QObject(parent), startThread_(std::move(startThread)), periods_(periods)
{
    if (!startThread_)
        startThread_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
    // The thread makes the engine while the window is built and shown: its
    // helpers' set-up overlaps with Qt's fonts. Without the thread, the
    // engine is made here, and each click tries the thread again.
    if (!startOwnThread()) {
        makeEngine();
        prepared_ = true;
    }
}

// Without memory for even one worker's buffers there is no engine yet: the
// window opens all the same, and each evaluation tries again.
void Evaluator::makeEngine()
{
    try {
        engine_ = std::make_unique<quadrilo::Engine>(quadrilo::EngineSettings{0, quadrilo::bestIsa(), startThread_, periods_});
    } catch (const std::exception&) {
        engine_.reset();
    }
}

bool Evaluator::startOwnThread()
{
    try {
        thread_ = startThread_([this] { serve(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Evaluator::serve()
{
    {
        std::unique_lock lock(mutex_);
        if (!prepared_) {
            lock.unlock();
            makeEngine();
            lock.lock();
            prepared_ = true;
            changed_.notify_all();
        }
    }
    for (;;) {
        quadrilo::Request request;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return closing_ || pending_; });
            if (closing_)
                return;
            request = std::move(*pending_);
            pending_.reset();
        }
        evaluate(request);
        std::lock_guard lock(mutex_);
        busy_ = false;
        changed_.notify_all();
    }
}

Evaluator::~Evaluator()
{
    cancel();
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool Evaluator::start(quadrilo::Request request)
{
    Q_ASSERT(!running());
    if (!thread_.joinable() && !startOwnThread())
        return false;
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return prepared_; });
    }
    // The thread waits for a request, so the engine is this thread's to
    // make until it hands one over.
    if (!engine_)
        makeEngine();
    if (!engine_)
        return false;
    cancel_ = false;
    done_ = 0;
    workShare_ = 0.0;
    passes_ = request.plan.passes;
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(request);
        busy_ = true;
    }
    changed_.notify_all();
    running_ = true;
    return true;
}

void Evaluator::evaluate(const quadrilo::Request& request)
{
    const quadrilo::ProgressFn progress = [this](std::uint64_t done) {
        done_.store(done, std::memory_order_relaxed);
        workShare_.store(engine_->workShare(), std::memory_order_relaxed);
        return !cancel_.load(std::memory_order_relaxed);
    };
    // The outcome goes back to the user-interface thread; if this object
    // is gone by then, Qt drops the call.
    std::function<void()> outcome;
    try {
        const auto result = engine_->evaluate(request, progress);
        if (result)
            outcome = [this, sum = result->sum, comparison = quadrilo::compareWithExact(request, result->sum)] {
                wait();
                emit finished(sum, comparison);
            };
        else
            outcome = [this] { wait(); emit cancelled(); };
    } catch (...) {
        outcome = [this, failure = std::current_exception()] {
            wait();
            emit failed(failure);
        };
    }
    QMetaObject::invokeMethod(this, std::move(outcome), Qt::QueuedConnection);
}

void Evaluator::cancel()
{
    cancel_ = true;
}

double Evaluator::shareDone() const
{
    return passes_ == 0 ? 0.0
                        : static_cast<double>(done_.load(std::memory_order_relaxed)) /
                              static_cast<double>(passes_);
}

void Evaluator::wait()
{
    if (!running_)
        return;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    running_ = false;
}
