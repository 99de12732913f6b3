#include "app/form1.h"

#include "app/evaluation_progress.h"
#include "app/evaluator.h"
#include "app/input_lock.h"
#include "app/key_filter.h"
#include "app/result_label.h"
#include "compute/yardsticks/exact_integral.h"
#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/keyfilter.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include <new>
#include <utility>

Form1::Form1(std::string decimalSeparator, quadrilo::ThreadFactory startThread, quadrilo::PeriodSettings periods,
             QWidget* parent)
    : QWidget(parent), separator_(std::move(decimalSeparator))
{
    installAccessibleRoles();
    setWindowTitle(QStringLiteral("Form1"));
    ui_ = buildDesign(this);
    announcer_ = new Announcer(this);

    new KeyFilter(ui_.Text1, [this](int& KeyAscii) { text1_KeyPress(KeyAscii); });
    new KeyFilter(ui_.Text2, [this](int& KeyAscii) { text2_KeyPress(KeyAscii); });
    for (QLineEdit* field : {ui_.Text1, ui_.Text2}) {
        field->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(field, &QLineEdit::customContextMenuRequested, this,
                [this, field](const QPoint& at) { showFieldMenu(field, at); });
    }

    evaluator_ = new Evaluator(std::move(startThread), periods, this);
    connect(evaluator_, &Evaluator::finished, this, &Form1::evaluated);
    connect(evaluator_, &Evaluator::failed, this, [this](const std::exception_ptr& failure) {
        ended();
        report(failure);
    });
    connect(evaluator_, &Evaluator::cancelled, this, &Form1::ended);
    progress_ = new EvaluationProgress(this, evaluator_, separator_);
    lock_ = new InputLock(this, ui_, [this] { evaluator_->cancel(); });

    // The result is copied from the keyboard where the focus can be: the
    // label itself is out of the tab order, and the fields keep cancelling
    // their own copy keys.
    ui_.Label4->takeCopyKeysFrom({ui_.Command1, ui_.Option1, ui_.Option2});

    connect(ui_.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(ui_.Option1, &QRadioButton::clicked, this, &Form1::Option1_Click);
    connect(ui_.Option2, &QRadioButton::clicked, this, &Form1::Option2_Click);

    resize(996, 609);
}

// The evaluator goes first, while the window it reports to is whole.
Form1::~Form1()
{
    ended();
    delete std::exchange(evaluator_, nullptr);
}

// Closing stops the evaluation and waits for it, a block of passes at most.
void Form1::closeEvent(QCloseEvent* event)
{
    if (evaluator_->running()) {
        evaluator_->cancel();
        evaluator_->wait();
        ended();
    }
    QWidget::closeEvent(event);
}

void Form1::Command1_Click()
{
    if (evaluator_->running())
        return;
    setResultText(QStringLiteral("      "));
    // The choice cannot change while the first kind runs (InputLock), so
    // the second kind never follows it: one click, at most one evaluation.
    if (ui_.Option1->isChecked())
        prima();
    else if (ui_.Option2->isChecked())
        seconda();
}

void Form1::Option1_Click()
{
    if (!evaluator_->running())
        setResultText(QStringLiteral("  "));
}

void Form1::Option2_Click()
{
    if (!evaluator_->running())
        setResultText(QStringLiteral("  "));
}

void Form1::text1_KeyPress(int& KeyAscii)
{
    KeyAscii = quadrilo::filterKey(KeyAscii);
}

void Form1::text2_KeyPress(int& KeyAscii)
{
    KeyAscii = quadrilo::filterKey(KeyAscii);
}

void Form1::prima()
{
    try {
        // The upper limit first: its error is the one reported when both are wrong.
        const double phi = quadrilo::textToNumber(ui_.Text1->text().toStdString());
        const double degrees = quadrilo::textToNumber(ui_.Text2->text().toStdString());
        run(quadrilo::firstKindRequest(phi, degrees));
    } catch (const quadrilo::Failure& failure) {
        report(failure);
    }
}

void Form1::seconda()
{
    run(quadrilo::secondKindRequest());
}

void Form1::run(quadrilo::Request request)
{
    const std::uint64_t passes = request.plan.passes;
    if (!evaluator_->start(std::move(request))) {
        report(QStringLiteral("Calcolo non avviato"),
               QStringLiteral("Il sistema non concede a Quadrilo i thread o la memoria per il calcolo. "
                              "Chiudere qualche programma e premere di nuovo \"Calcolo\"."));
        return;
    }
    lock_->engage();
    progress_->start(passes);
}

void Form1::evaluated(double sum, const quadrilo::Comparison& comparison)
{
    ended();
    setResultText(QString::fromStdString(quadrilo::formatFiveDecimals(sum, separator_)),
                  QString::fromStdString(quadrilo::comparisonText(comparison.exact, comparison.difference, separator_)));
}

void Form1::ended()
{
    progress_->stop();
    lock_->release();
}

// A result is also announced, for a screen reader to say wherever the focus
// is; a blank caption is not.
void Form1::setResultText(const QString& text, const QString& aside)
{
    ui_.Label4->setText(text);
    ui_.Label4->setAside(aside);
    if (!text.trimmed().isEmpty())
        announcer_->announce(ui_.Label7->text() + QLatin1Char(' ') + text);
}

// The field's own menu, less the shortcuts that the key filter cancels (the
// control characters of undo, cut, copy, paste and select all): the
// actions work from the menu, their keys do nothing.
void Form1::showFieldMenu(QLineEdit* field, const QPoint& at)
{
    QMenu* menu = field->createStandardContextMenu();
    menu->setObjectName(QStringLiteral("fieldMenu"));
    for (QAction* action : menu->actions()) {
        action->setShortcut(QKeySequence());
        action->setText(action->text().section(QLatin1Char('\t'), 0, 0));
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(field->mapToGlobal(at));
}

// The report is window-modal but does not block the event loop; the window
// goes on working once it is dismissed.
void Form1::report(const QString& title, const QString& description)
{
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Quadrilo"), title, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("report"));
    box->setInformativeText(description);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void Form1::report(const quadrilo::Failure& failure)
{
    report(QString::fromStdString(failure.title()), QString::fromStdString(failure.describe(separator_)));
}

// Every failure of an evaluation is told as the window tells a refused input.
void Form1::report(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const quadrilo::Failure& known) {
        report(known);
    } catch (const std::bad_alloc&) {
        report(quadrilo::RuntimeError(quadrilo::RuntimeError::OutOfMemory));
    } catch (const std::exception& unexpected) {
        report(QStringLiteral("Errore interno"), QString::fromLocal8Bit(unexpected.what()));
    } catch (...) {
        report(QStringLiteral("Errore interno"), QString());
    }
}
