#pragma once

#include <QWidget>

#include "app/design.h"
#include "compute/engine.h"
#include "platform/numfmt.h"

#include <exception>
#include <string>

class Announcer;
class EvaluationProgress;
class Evaluator;
class InputLock;
class QLineEdit;

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
    // `startThread` starts every thread the window's evaluations use, and
    // `periods` says how they sum by periods and bands.
    explicit Form1(std::string decimalSeparator = quadrilo::decimalSeparatorOf(""),
                   quadrilo::ThreadFactory startThread = {}, quadrilo::PeriodSettings periods = {},
                   QWidget* parent = nullptr);
    ~Form1() override;

protected:
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
    void setResultText(const QString& text, const QString& aside = {});
    void report(const QString& title, const QString& description);
    void report(const quadrilo::Failure& failure);
    void report(const std::exception_ptr& failure);
    void showFieldMenu(QLineEdit* field, const QPoint& at);

    std::string separator_;
    Controls ui_;
    Evaluator* evaluator_ = nullptr;
    EvaluationProgress* progress_ = nullptr;
    InputLock* lock_ = nullptr;
    Announcer* announcer_ = nullptr;
};
