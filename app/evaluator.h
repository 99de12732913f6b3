#pragma once

#include "compute/engine.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

// Runs one evaluation at a time off the user-interface thread, and tells the
// window how far it has got. Destroying it stops the evaluation and waits for
// its thread.
class Evaluator : public QObject {
    Q_OBJECT

public:
    using Job = std::function<std::optional<quadrilo::Evaluation>(const quadrilo::ProgressFn&)>;

    // `startThread` starts the thread of each evaluation (empty: std::thread).
    explicit Evaluator(quadrilo::ThreadFactory startThread = {}, QObject* parent = nullptr);
    ~Evaluator() override;

    // `passes` is the number the job will make, for the share done. Returns
    // false, having started nothing, when the system has no thread for it.
    [[nodiscard]] bool start(std::uint64_t passes, Job job);
    void cancel();
    // Returns when the evaluation has ended; its outcome still arrives.
    void wait();
    bool running() const { return worker_.joinable(); }
    double shareDone() const;

signals:
    void finished(double sum);
    void failed(const QString& title, const QString& description);
    void cancelled();

private:
    void evaluate(const Job& job);
    void settle();

    quadrilo::ThreadFactory startThread_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    std::atomic<std::uint64_t> done_{0};
    std::uint64_t passes_ = 0;
};
