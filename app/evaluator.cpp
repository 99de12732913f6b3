#include "app/evaluator.h"

#include "platform/errors.h"

#include <QMetaObject>

#include <new>
#include <system_error>

Evaluator::Evaluator(quadrilo::ThreadFactory startThread, QObject* parent)
    : QObject(parent), startThread_(std::move(startThread))
{
    if (!startThread_)
        startThread_ = [](std::function<void()> body) { return std::thread(std::move(body)); };
    // The engine is made on a thread of its own while the window is built
    // and shown: its workers' set-up overlaps with Qt's fonts.
    try {
        preparing_ = startThread_([this] { makeEngine(); });
    } catch (const std::system_error&) {
        makeEngine();
    }
}

// Without memory for even one worker's buffers there is no engine yet: the
// window opens all the same, and each evaluation tries again.
void Evaluator::makeEngine()
{
    try {
        engine_ = std::make_unique<quadrilo::Engine>(quadrilo::EngineSettings{0, quadrilo::bestIsa(), startThread_});
    } catch (const std::exception&) {
        engine_.reset();
    }
}

Evaluator::~Evaluator()
{
    cancel();
    if (worker_.joinable())
        worker_.join();
    if (preparing_.joinable())
        preparing_.join();
}

bool Evaluator::start(quadrilo::Request request)
{
    Q_ASSERT(!running());
    if (preparing_.joinable())
        preparing_.join();
    if (!engine_)
        makeEngine();
    if (!engine_)
        return false;
    cancel_ = false;
    done_ = 0;
    passes_ = request.plan.passes;
    try {
        worker_ = startThread_([this, request = std::move(request)] { evaluate(request); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Evaluator::evaluate(const quadrilo::Request& request)
{
    const quadrilo::ProgressFn progress = [this](std::uint64_t done) {
        done_.store(done, std::memory_order_relaxed);
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
    } catch (const quadrilo::Failure& failure) {
        outcome = reportOf(failure);
    } catch (const std::bad_alloc&) {
        outcome = reportOf(quadrilo::RuntimeError(quadrilo::RuntimeError::OutOfMemory));
    } catch (const std::exception& unexpected) {
        outcome = [this, text = QString::fromLocal8Bit(unexpected.what())] {
            wait();
            emit failed(QStringLiteral("Errore interno"), text);
        };
    }
    QMetaObject::invokeMethod(this, std::move(outcome), Qt::QueuedConnection);
}

std::function<void()> Evaluator::reportOf(const quadrilo::Failure& failure)
{
    return [this, title = QString::fromStdString(failure.title()), text = QString::fromUtf8(failure.what())] {
        wait();
        emit failed(title, text);
    };
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
    if (worker_.joinable())
        worker_.join();
}
