#pragma once

#include "compute/engine.h"
#include "compute/yardsticks/exact_integral.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

// The window's engine, and the one evaluation at a time that it runs off the
// user-interface thread: how far it has got, and its outcome as a signal.
// One thread of its own, kept for its life, makes the engine and runs every
// evaluation as the engine's first worker: a click makes no thread. Destroying
// it stops the evaluation and waits for it.
class Evaluator : public QObject {
    Q_OBJECT

public:
    // `startThread` starts the evaluator's thread and the engine's helpers
    // (empty: std::thread); `periods` says how the engine sums by periods
    // and bands.
    explicit Evaluator(quadrilo::ThreadFactory startThread = {}, quadrilo::PeriodSettings periods = {},
                       QObject* parent = nullptr);
    ~Evaluator() override;

    // Returns false, having started nothing, when the system has no thread
    // or no memory for it.
    [[nodiscard]] bool start(quadrilo::Request request);
    void cancel();
    // Returns when the evaluation has ended; its outcome still arrives.
    void wait();
    bool running() const { return running_; }
    double shareDone() const;
    std::uint64_t passesDone() const { return done_.load(std::memory_order_relaxed); }
    // The share of the evaluation's planned work done (Engine::workShare),
    // which the time left follows: passes summed by periods cost far less
    // than passes summed one by one.
    double workShare() const { return workShare_.load(std::memory_order_relaxed); }

signals:
    // The sum, and the exact integral beside it.
    void finished(double sum, const quadrilo::Comparison& comparison);
    // What the evaluation threw, for the window to describe (Form1::report).
    void failed(const std::exception_ptr& failure);
    void cancelled();

private:
    void makeEngine();
    bool startOwnThread();
    void serve();
    void evaluate(const quadrilo::Request& request);

    quadrilo::ThreadFactory startThread_;
    quadrilo::PeriodSettings periods_;
    std::unique_ptr<quadrilo::Engine> engine_; // the thread's, until prepared_
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool prepared_ = false;                    // the thread has tried to make the engine
    std::optional<quadrilo::Request> pending_; // handed to the thread
    bool busy_ = false;                        // from start() until the thread is done with it
    bool closing_ = false;
    bool running_ = false; // the user-interface thread's view: from start() to wait()
    std::atomic<bool> cancel_{false};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<double> workShare_{0.0};
    std::uint64_t passes_ = 0;
};
