#pragma once

#include <QElapsedTimer>
#include <QWidget>

#include "compute/engine.h"
#include "compute/progress.h"
#include "platform/numfmt.h"

#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class Announcer;
class Evaluator;
class ResultLabel;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QTimer;
class QPushButton;
class QRadioButton;

namespace quadrilo {
class Failure;
struct Comparison;
}

// The calculator's one window. Its slots are the event procedures; the
// evaluations themselves live in the compute library.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // `decimalSeparator` is the result's, and that of numbers in messages;
    // `startThread` starts every thread the window's evaluations use.
    explicit Form1(std::string decimalSeparator = quadrilo::decimalSeparatorOf(""),
                   quadrilo::ThreadFactory startThread = {}, QWidget* parent = nullptr);
    ~Form1() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    // Wired by the window itself, to its own controls.
    void Command1_Click();
    void Option1_Click();
    void Option2_Click();
    void text1_KeyPress(int& KeyAscii);
    void text2_KeyPress(int& KeyAscii);

private:
    void prima();
    void seconda();
    void run(quadrilo::Request request);
    void evaluated(double sum, const quadrilo::Comparison& comparison);
    void ended();
    void showProgress();
    void showShareDone();
    void setResultText(const QString& text, const QString& aside = {});
    void report(const QString& title, const QString& description);
    void report(const quadrilo::Failure& failure);
    void report(const std::exception_ptr& failure);
    bool isInputForThisWindow(QObject* watched, QEvent* event) const;
    void showFieldMenu(QLineEdit* field, const QPoint& at);
    void holdInput();

    std::string separator_;
    Evaluator* evaluator_ = nullptr;
    struct Held {
        QString text1, text2;
        bool first = true; // Option1 selected, else Option2
    } held_;               // what an evaluation in progress keeps as it was
    QTimer* progressDelay_ = nullptr;
    QTimer* progressTick_ = nullptr;
    static constexpr int kProgressSteps = 100000;
    QElapsedTimer clock_;                              // since the evaluation began
    std::optional<quadrilo::RemainingTime> remaining_; // of the evaluation in progress
    int percentDecimals_ = 1;
    qint64 progressSpokenAt_ = 0; // ms into the evaluation
    QProgressDialog* progress_ = nullptr;
    QLabel* progressText_ = nullptr;
    Announcer* announcer_ = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr;
    std::array<QLabel*, 2> Label9{};
    QLabel* Label8 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label5 = nullptr;
    ResultLabel* Label4 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label2 = nullptr;
};
