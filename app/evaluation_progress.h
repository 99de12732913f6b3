#pragma once

#include "app/remaining_time.h"

#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <optional>
#include <string>

class Evaluator;
class QLabel;
class QProgressDialog;
class QTimer;
class QWidget;

// The progress of the window's evaluation: after 300 ms, a dialog with the
// share done, the time left once its estimate is steady, and a button that
// cancels.
class EvaluationProgress : public QObject {
    Q_OBJECT

public:
    EvaluationProgress(QWidget* window, Evaluator* evaluator, std::string separator);

    void start(std::uint64_t passes);
    void stop();

private:
    void showDialog();
    void showShareDone();

    QWidget* window_;
    Evaluator* evaluator_;
    std::string separator_;
    QTimer* delay_ = nullptr;
    QTimer* tick_ = nullptr;
    static constexpr int kSteps = 100000;
    static constexpr std::uint64_t kWorkSteps = 1'000'000'000;
    QElapsedTimer clock_; // since the evaluation began
    std::optional<quadrilo::RemainingTime> remaining_;
    int percentDecimals_ = 1;
    qint64 spokenAt_ = 0; // ms into the evaluation
    QProgressDialog* dialog_ = nullptr;
    QLabel* text_ = nullptr;
};
