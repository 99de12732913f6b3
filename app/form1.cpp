#include "app/form1.h"

#include "app/evaluator.h"
#include "app/result_label.h"
#include "compute/engine.h"
#include "compute/exact_integral.h"
#include "compute/keyfilter.h"
#include "compute/progress.h"
#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/numfmt.h"

#include <QApplication>
#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QTimer>
#include <QPushButton>
#include <QRadioButton>

#include <limits>
#include <new>
#include <utility>

namespace {

// The design is in twips; at 96 dpi one logical pixel is 15 twips.
QRect fromTwips(int left, int top, int width, int height)
{
    auto px = [](int twips) { return qRound(twips / 15.0); };
    return {px(left), px(top), px(width), px(height)};
}

enum class Face { SansSerif, Verdana };

// The design's faces first, then the nearest free faces, which the package
// depends on: Liberation Sans keeps MS Sans Serif's metrics, and DejaVu Sans
// follows Verdana's design.
QFont designFont(Face face, qreal points)
{
    QFont font;
    font.setFamilies(face == Face::Verdana
                         ? QStringList{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}
                         : QStringList{QStringLiteral("MS Sans Serif"),
                                       QStringLiteral("Liberation Sans")});
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void paintBlue(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 255));
    widget->setPalette(palette);
}

int ansiCode(QChar c)
{
    return c.unicode() <= 0xFF ? c.unicode() : '?';
}

// The ANSI code of the character a key press produces, or -1 for a key that
// produces none: those (arrows, Home, End, Delete, and Tab, which moves the
// focus) never reach the filter and keep working.
int characterCode(const QKeyEvent& key)
{
    switch (key.key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Delete:
        return -1;
    default:
        break;
    }
    const QString text = key.text();
    return text.isEmpty() ? -1 : ansiCode(text.front());
}

} // namespace

Form1::Form1(std::string decimalSeparator, quadrilo::ThreadFactory startThread, QWidget* parent)
    : QWidget(parent), separator_(std::move(decimalSeparator))
{
    installAccessibleRoles();
    setWindowTitle(QStringLiteral("Form1"));

    auto label = [this](const QString& name, const QString& caption, const QFont& font,
                        const QRect& box, bool fitsCaption) {
        auto* l = new QLabel(caption, this);
        l->setObjectName(name);
        l->setFont(font);
        l->setGeometry(box);
        if (fitsCaption)
            l->adjustSize();
        return l;
    };
    auto option = [this](const QString& name, const QString& caption, const QRect& box) {
        auto* b = new QRadioButton(caption, this);
        b->setObjectName(name);
        b->setFont(designFont(Face::SansSerif, 18));
        b->setGeometry(box);
        return b;
    };
    auto field = [this](const QString& name, const QRect& box) {
        auto* f = new QLineEdit(this);
        f->setObjectName(name);
        f->setFont(designFont(Face::SansSerif, 13.5));
        f->setGeometry(box);
        f->setAcceptDrops(false);
        f->setMaxLength(std::numeric_limits<int>::max()); // Qt's default keeps 32,767 characters
        f->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(f, &QLineEdit::customContextMenuRequested, this,
                [this, f](const QPoint& at) { showFieldMenu(f, at); });
        f->installEventFilter(this);
        return f;
    };

    Option2 = option(QStringLiteral("Option2"), QStringLiteral("Integrale II° ordine"),
                     fromTwips(240, 3720, 3735, 495));
    Option1 = option(QStringLiteral("Option1"), QStringLiteral("Integrale  I° ordine"),
                     fromTwips(240, 2760, 4215, 495));
    Text2 = field(QStringLiteral("Text2"), fromTwips(240, 8280, 1815, 615));
    Text1 = field(QStringLiteral("Text1"), fromTwips(240, 5640, 1815, 615));

    Command1 = new QPushButton(QStringLiteral("Calcolo"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFont(designFont(Face::SansSerif, 13.5));
    Command1->setGeometry(fromTwips(9120, 3600, 3255, 735));
    Command1->setAutoDefault(false);

    const QFont caption = designFont(Face::SansSerif, 13.5);
    Label9[1] = label(QStringLiteral("Label9_1"), QStringLiteral("TextBox2"), caption,
                      fromTwips(240, 7080, 1335, 360), true);
    Label9[0] = label(QStringLiteral("Label9_0"), QStringLiteral("TextBox1"), caption,
                      fromTwips(240, 4680, 1335, 360), true);
    Label8 = label(QStringLiteral("Label8"), QStringLiteral("selettore"), caption,
                   fromTwips(240, 2280, 1215, 360), true);
    Label7 = label(QStringLiteral("Label7"), QStringLiteral("Integrale"), caption,
                   fromTwips(12120, 5040, 1230, 360), true);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(fromTwips(7200, 4680, 3855, 2415));
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image1->setPixmap(QPixmap(QStringLiteral(":/formula.png")));
    Image1->setAccessibleName(QStringLiteral("Formula"));
    Image1->setAccessibleDescription(
        QStringLiteral("Integrale da 0 a \u03C6 di f(\u03B1; \u03B8) d\u03B8, "
                       "uguale al risultato scritto alla sua destra"));

    const QFont large = designFont(Face::SansSerif, 18);
    Label6 = label(QStringLiteral("Label6"), QStringLiteral("Argomento in gradi sessagesimali"),
                   large, fromTwips(240, 7560, 5955, 435), true);
    Label5 = label(QStringLiteral("Label5"), QStringLiteral("Limite  sup. d 'integr. in radianti"),
                   large, fromTwips(240, 5040, 5475, 435), true);
    Label4 = new ResultLabel(this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setFont(large);
    Label4->setGeometry(fromTwips(11160, 5640, 3375, 615));
    // Centred in its box, the result sits level with the formula's "=".
    Label4->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label1 = label(QStringLiteral("Label1"), QStringLiteral("QUADRILO"), designFont(Face::Verdana, 72),
                   fromTwips(3480, 120, 7440, 1740), true);
    Label3 = label(QStringLiteral("Label3"), QStringLiteral("Quadrilo"),
                   designFont(Face::SansSerif, 9.75), fromTwips(13680, 8040, 1020, 240), true);
    Label2 = label(QStringLiteral("Label2"),
                   QStringLiteral("Per il calcolo rapido  degli integrali ellittici"),
                   designFont(Face::Verdana, 18), fromTwips(2948, 1920, 8505, 435), true);

    for (QLabel* blue : {Label1, Label7, static_cast<QLabel*>(Label4)})
        paintBlue(blue);
    // A screen reader names each field after the caption above it.
    Label5->setBuddy(Text1);
    Label6->setBuddy(Text2);
    Label7->setBuddy(Label4);
    announcer_ = new Announcer(this);

    setTabOrder(Command1, Text1);
    setTabOrder(Text1, Text2);
    setTabOrder(Text2, Option1);
    setTabOrder(Option1, Option2);
    Command1->setFocus();

    evaluator_ = new Evaluator(std::move(startThread), this);
    connect(evaluator_, &Evaluator::finished, this, &Form1::evaluated);
    connect(evaluator_, &Evaluator::failed, this, [this](const std::exception_ptr& failure) {
        ended();
        report(failure);
    });
    connect(evaluator_, &Evaluator::cancelled, this, &Form1::ended);
    // A short evaluation ends before anyone could read a progress dialog.
    progressDelay_ = new QTimer(this);
    progressDelay_->setSingleShot(true);
    progressDelay_->setInterval(300);
    connect(progressDelay_, &QTimer::timeout, this, &Form1::showProgress);
    progressTick_ = new QTimer(this);
    progressTick_->setInterval(50);
    connect(progressTick_, &QTimer::timeout, this, &Form1::showShareDone);

    // Input events are filtered while an evaluation runs, but assistive
    // technologies set texts and toggle buttons directly: what changes then
    // is put back.
    for (QLineEdit* field : {Text1, Text2})
        connect(field, &QLineEdit::textChanged, this, &Form1::holdInput);
    for (QRadioButton* option : {Option1, Option2})
        connect(option, &QAbstractButton::toggled, this, &Form1::holdInput);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Option1, &QRadioButton::clicked, this, &Form1::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &Form1::Option2_Click);

    resize(996, 609);
}

// The evaluator goes first, while the window it reports to is whole.
Form1::~Form1()
{
    qApp->removeEventFilter(this);
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
    // The choice cannot change while the first kind runs (holdInput), so
    // the second kind never follows it: one click, at most one evaluation.
    if (Option1->isChecked())
        prima();
    else if (Option2->isChecked())
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

void Form1::holdInput()
{
    if (!evaluator_->running())
        return;
    const QSignalBlocker blockers[] = {QSignalBlocker(Text1), QSignalBlocker(Text2),
                                       QSignalBlocker(Option1), QSignalBlocker(Option2)};
    Text1->setText(held_.text1);
    Text2->setText(held_.text2);
    (held_.first ? Option1 : Option2)->setChecked(true);
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
        const double phi = quadrilo::textToNumber(Text1->text().toStdString());
        const double degrees = quadrilo::textToNumber(Text2->text().toStdString());
        run(quadrilo::firstKindRequest(phi, degrees));
    } catch (const quadrilo::Failure& failure) {
        report(failure);
    }
}

void Form1::seconda()
{
    run(quadrilo::secondKindRequest());
}

// While an evaluation runs the window repaints but takes no input, so that
// nothing can change the fields or start a second evaluation.
void Form1::run(quadrilo::Request request)
{
    const std::uint64_t passes = request.plan.passes;
    if (!evaluator_->start(std::move(request))) {
        report(QStringLiteral("Calcolo non avviato"),
               QStringLiteral("Il sistema non concede a Quadrilo i thread o la memoria per il calcolo. "
                              "Chiudere qualche programma e premere di nuovo \"Calcolo\"."));
        return;
    }
    held_ = {Text1->text(), Text2->text(), Option1->isChecked()};
    remaining_.emplace(passes);
    percentDecimals_ = quadrilo::percentDecimals(passes);
    clock_.start();
    qApp->installEventFilter(this);
    progressDelay_->start();
}

void Form1::evaluated(double sum, const quadrilo::Comparison& comparison)
{
    ended();
    setResultText(QString::fromStdString(quadrilo::formatFiveDecimals(sum, separator_)),
                  QString::fromStdString(quadrilo::comparisonText(comparison.exact, comparison.difference, separator_)));
}

void Form1::ended()
{
    progressDelay_->stop();
    progressTick_->stop();
    // A modal progress dialog processes events inside setValue(), which is
    // where the end of an evaluation can arrive: it must outlive that call.
    if (progress_) {
        progress_->hide();
        progress_->deleteLater();
        progress_ = nullptr;
    }
    qApp->removeEventFilter(this);
}

void Form1::showProgress()
{
    progress_ = new QProgressDialog(QStringLiteral("Calcolo dell'integrale in corso…"),
                                    QStringLiteral("Annulla"), 0, kProgressSteps, this);
    progress_->setObjectName(QStringLiteral("progress"));
    // The text changes twenty times a second, and a screen reader would say
    // each one: its accessible name follows at most once a second.
    progressText_ = new QLabel(progress_);
    progressText_->setObjectName(QStringLiteral("progressText"));
    progress_->setLabel(progressText_);
    auto* bar = new QProgressBar(progress_);
    bar->setAccessibleName(QStringLiteral("Avanzamento del calcolo"));
    progress_->setBar(bar);
    progress_->setRange(0, kProgressSteps);
    progressSpokenAt_ = -1000;
    progress_->setWindowTitle(QStringLiteral("Quadrilo"));
    // Not modal: the window manager's close request for a window that a
    // modal dialog blocks never reaches it. The window takes no input all
    // the same (eventFilter), and Escape there cancels too.
    progress_->setWindowModality(Qt::NonModal);
    progress_->setMinimumDuration(0);
    progress_->setAutoClose(false);
    progress_->setAutoReset(false);
    connect(progress_, &QProgressDialog::canceled, evaluator_, &Evaluator::cancel);
    showShareDone();
    progress_->show();
    progressTick_->start();
}

// The share done, finely enough to move even when an evaluation takes months,
// and the time left once its estimate is steady.
void Form1::showShareDone()
{
    if (!progress_)
        return;
    const double share = evaluator_->shareDone();
    QString text = QStringLiteral("Calcolo dell'integrale in corso…\n") +
                   QString::fromStdString(quadrilo::formatPercent(100 * share, percentDecimals_, separator_));
    if (const auto left = remaining_->update(static_cast<double>(clock_.elapsed()) / 1000,
                                             evaluator_->passesDone()))
        text += QStringLiteral(", ") + QString::fromStdString(quadrilo::timeLeft(*left));
    progress_->setLabelText(text);
    if (clock_.elapsed() - progressSpokenAt_ >= 1000) {
        progressSpokenAt_ = clock_.elapsed();
        progressText_->setAccessibleName(text);
    }
    progress_->setValue(static_cast<int>(share * kProgressSteps));
}

// A result is also announced, for a screen reader to say wherever the focus
// is; a blank caption is not.
void Form1::setResultText(const QString& text, const QString& aside)
{
    Label4->setText(text);
    Label4->setAside(aside);
    if (!text.trimmed().isEmpty())
        announcer_->announce(Label7->text() + QLatin1Char(' ') + text);
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
    auto* box = new QMessageBox(QMessageBox::Critical, QStringLiteral("Quadrilo"), title,
                                QMessageBox::Ok, this);
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

bool Form1::isInputForThisWindow(QObject* watched, QEvent* event) const
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::InputMethod:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::Drop:
        break;
    default:
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget && widget->window() == this;
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (evaluator_ && evaluator_->running() && isInputForThisWindow(watched, event)) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            evaluator_->cancel();
        return true;
    }
    if ((watched == Text1 || watched == Text2) && event->type() == QEvent::KeyPress) {
        const int code = characterCode(*static_cast<QKeyEvent*>(event));
        if (code < 0)
            return false;
        int keyAscii = code;
        if (watched == Text1)
            text1_KeyPress(keyAscii);
        else
            text2_KeyPress(keyAscii);
        return keyAscii == 0;
    }
    if ((watched == Text1 || watched == Text2) && event->type() == QEvent::InputMethod) {
        // Text from an input method is typed text too: each character of
        // the commit goes through the filter, and what it cancels is dropped.
        auto* input = static_cast<QInputMethodEvent*>(event);
        QString kept;
        for (const QChar c : input->commitString()) {
            int keyAscii = ansiCode(c);
            if (watched == Text1)
                text1_KeyPress(keyAscii);
            else
                text2_KeyPress(keyAscii);
            if (keyAscii != 0)
                kept.append(c);
        }
        if (kept == input->commitString())
            return false;
        QInputMethodEvent filtered(input->preeditString(), input->attributes());
        filtered.setCommitString(kept, input->replacementStart(), input->replacementLength());
        QApplication::sendEvent(watched, &filtered);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
