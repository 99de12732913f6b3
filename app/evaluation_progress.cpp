#include "app/evaluation_progress.h"

#include "app/evaluator.h"
#include "platform/numfmt.h"

#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>

EvaluationProgress::EvaluationProgress(QWidget* window, Evaluator* evaluator, std::string separator)
    : QObject(window), window_(window), evaluator_(evaluator), separator_(std::move(separator))
{
    // A short evaluation ends before anyone could read a progress dialog.
    delay_ = new QTimer(this);
    delay_->setSingleShot(true);
    delay_->setInterval(300);
    connect(delay_, &QTimer::timeout, this, &EvaluationProgress::showDialog);
    tick_ = new QTimer(this);
    tick_->setInterval(50);
    connect(tick_, &QTimer::timeout, this, &EvaluationProgress::showShareDone);
}

void EvaluationProgress::start(std::uint64_t passes)
{
    remaining_.emplace(kWorkSteps);
    percentDecimals_ = quadrilo::percentDecimals(passes);
    clock_.start();
    delay_->start();
}

void EvaluationProgress::stop()
{
    delay_->stop();
    tick_->stop();
    // A modal progress dialog processes events inside setValue(), which is
    // where the end of an evaluation can arrive: it must outlive that call.
    if (dialog_) {
        dialog_->hide();
        dialog_->deleteLater();
        dialog_ = nullptr;
    }
}

void EvaluationProgress::showDialog()
{
    dialog_ = new QProgressDialog(QStringLiteral("Calcolo dell'integrale in corso…"), QStringLiteral("Annulla"), 0,
                                  kSteps, window_);
    dialog_->setObjectName(QStringLiteral("progress"));
    // The text changes twenty times a second, and a screen reader would say
    // each one: its accessible name follows at most once a second.
    text_ = new QLabel(dialog_);
    text_->setObjectName(QStringLiteral("progressText"));
    dialog_->setLabel(text_);
    auto* bar = new QProgressBar(dialog_);
    bar->setAccessibleName(QStringLiteral("Avanzamento del calcolo"));
    dialog_->setBar(bar);
    dialog_->setRange(0, kSteps);
    spokenAt_ = -1000;
    dialog_->setWindowTitle(QStringLiteral("Quadrilo"));
    // Not modal: the window manager's close request for a window that a
    // modal dialog blocks never reaches it. The window takes no input all
    // the same (InputLock), and Escape there cancels too.
    dialog_->setWindowModality(Qt::NonModal);
    dialog_->setMinimumDuration(0);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    connect(dialog_, &QProgressDialog::canceled, evaluator_, &Evaluator::cancel);
    showShareDone();
    dialog_->show();
    tick_->start();
}

// The share of passes done, finely enough to move even when an evaluation
// takes days, and the time left, from the share of the planned work, once
// its estimate is steady.
void EvaluationProgress::showShareDone()
{
    if (!dialog_)
        return;
    const double share = evaluator_->shareDone();
    QString text = QStringLiteral("Calcolo dell'integrale in corso…\n") +
                   QString::fromStdString(quadrilo::formatPercent(100 * share, percentDecimals_, separator_));
    const auto workDone = static_cast<std::uint64_t>(evaluator_->workShare() * kWorkSteps);
    if (const auto left = remaining_->update(static_cast<double>(clock_.elapsed()) / 1000, workDone))
        text += QStringLiteral(", ") + QString::fromStdString(quadrilo::timeLeft(*left));
    dialog_->setLabelText(text);
    if (clock_.elapsed() - spokenAt_ >= 1000) {
        spokenAt_ = clock_.elapsed();
        text_->setAccessibleName(text);
    }
    dialog_->setValue(static_cast<int>(share * kSteps));
}
