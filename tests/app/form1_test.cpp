#include "app/evaluator.h"
#include "app/form1.h"
#include "app/startup.h"
#include "window_driver.h"
#include "compute/engine.h"
#include "compute/input.h"
#include "platform/numfmt.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <system_error>
#include <thread>

namespace {

const QString kSixSpaces = QStringLiteral("      ");

// Evaluations run on another thread; under Valgrind or the sanitizers they
// take many times longer than in a plain build.
constexpr int kPatience = 120000;
const QString kTwoSpaces = QStringLiteral("  ");

// A key press shaped as X11 delivers it, text included.
void pressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

struct PaintCounter : QObject {
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
    int count = 0;
};

} // namespace

class Form1Test : public QObject, protected WindowDriver {
    Q_OBJECT

private:
    void dismissReport()
    {
        QMessageBox* box = report();
        QVERIFY(box);
        click(box->button(QMessageBox::Ok));
        QTRY_VERIFY_WITH_TIMEOUT(!report(), kPatience);
    }

    // An evaluation of 10^11 passes, with its progress dialog up.
    void startALongEvaluation()
    {
        typeInto(text1(), QStringLiteral("100000"));
        typeInto(text2(), QStringLiteral("30"));
        click(option1());
        click(calcolo());
        QVERIFY(busy());
        QTRY_VERIFY_WITH_TIMEOUT(progress() && progress()->isVisible(), kPatience);
    }

private slots:
    void initTestCase() { prepareApplication(); }
    void init()
    {
        form = std::make_unique<Form1>(",");
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() { form.reset(); }

    void startsEmptyWithTheFocusOnCalcolo()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
        QVERIFY(text1()->text().isEmpty());
        QVERIFY(text2()->text().isEmpty());
        QVERIFY(!option1()->isChecked());
        QVERIFY(!option2()->isChecked());
        QVERIFY(label4().isEmpty());
        QCOMPARE(QApplication::focusWidget(), calcolo());
    }

    // The option buttons are one group: Tab enters it, the arrows move
    // within it, Space selects (and so blanks the result), Tab leaves it.
    void tabVisitsTheFieldsThenTheOptions()
    {
        const QList<QWidget*> order = {text1(), text2(), option1()};
        for (QWidget* expected : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
        QTest::keyClick(option1(), Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), option2());
        QTest::keyClick(option2(), Qt::Key_Space);
        QVERIFY(option2()->isChecked());
        QCOMPARE(label4(), kTwoSpaces);
        QTest::keyClick(option2(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), calcolo());
    }

    void inputMethodCommitsAreFiltered()
    {
        text1()->setFocus();
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("1,a5° e-7"));
        QApplication::sendEvent(text1(), &commit);
        QCOMPARE(text1()->text(), QStringLiteral("15-7"));
    }

    void realTabMovesTheFocus()
    {
        text1()->setFocus();
        pressKey(text1(), Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
        QCOMPARE(QApplication::focusWidget(), text2());
        pressKey(text2(), Qt::Key_Backtab, Qt::ShiftModifier, QStringLiteral("\t"));
        QCOMPARE(QApplication::focusWidget(), text1());
    }

    // Steps: "1=text" and "2=text" type into a cleared Text1 or Text2, "o1"
    // and "o2" click the options, "c" clicks Calcolo and waits. Each ends
    // with the result shown and, when the click fails, the report's title
    // and a part of its text; the fields keep what was typed, and no
    // progress was shown for these short evaluations.
    void scenarios_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        const QString none;
        QTest::newRow("calcolo without option") << "1=1 2=30 c" << kSixSpaces << none << none;
        QTest::newRow("first option blanks") << "1=1 2=30 o1" << kTwoSpaces << none << none;
        QTest::newRow("second option blanks") << "1=1 2=30 o2" << kTwoSpaces << none << none;
        QTest::newRow("first kind") << "1=1.5707963 2=30 o1 c" << "1,68575" << none << none;
        QTest::newRow("first kind, empty fields") << "o1 c" << "0," << none << none;
        QTest::newRow("first kind, negative limit") << "1=-1 2=30 o1 c" << "0," << none << none;
        QTest::newRow("second kind") << "1=100 2=-5 o2 c" << "1,56781" << none << none;
        QTest::newRow("second kind, empty fields") << "o2 c" << "1,56781" << none << none;
        QTest::newRow("switching kind blanks") << "1=1 2=45 o1 c o2" << kTwoSpaces << none << none;
        QTest::newRow("then the second kind") << "1=1 2=45 o1 c o2 c" << "1,56781" << none << none;
        QTest::newRow("selected option again blanks") << "1=1 2=45 o1 c o1" << kTwoSpaces << none << none;
        QTest::newRow("editing a field keeps the result") << "1=1 2=45 o1 c 2=0" << "1,08322" << none << none;
        // Each term is then h: the sum is the counter.
        QTest::newRow("and calcolo takes the edit") << "1=1 2=45 o1 c 2=0 c" << "1," << none << none;
        QTest::newRow("division by zero") << "1=142.9424658 2=89.999999 o1 c" << kSixSpaces
                                          << "Errore di run-time '11'" << "Divisione per zero";
        QTest::newRow("limit beyond a double") << "1=" + QString(400, QLatin1Char('9')) + " 2=30 o1 c" << kSixSpaces
                                               << "Errore di run-time '6'" << "Overflow";
        QTest::newRow("argument beyond a double") << "1=1 2=-" + QString(400, QLatin1Char('9')) + " o1 c"
                                                  << kSixSpaces << "Errore di run-time '6'" << "Overflow";
        QTest::newRow("limit where the loop never ends") << "1=17179869184 2=30 o1 c" << kSixSpaces
                                                         << "Valore non accettato" << "passo 0,000001 il calcolo";
    }
    void scenarios()
    {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QString typed[2];
        for (const QString& step : steps.split(QLatin1Char(' '))) {
            if (step.size() > 1 && step[1] == QLatin1Char('=')) {
                const int field = step[0] == QLatin1Char('1') ? 0 : 1;
                typed[field] = step.mid(2);
                (field ? text2() : text1())->clear();
                typeInto(field ? text2() : text1(), typed[field]);
            } else {
                QWidget* target = calcolo();
                if (step != QLatin1String("c"))
                    target = step == QLatin1String("o1") ? option1() : option2();
                click(target);
                QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
            }
        }
        QCOMPARE(label4(), shown);
        QCOMPARE(report() ? report()->text() : QString(), title);
        if (report()) {
            QVERIFY2(report()->informativeText().contains(detail), qPrintable(report()->informativeText()));
            dismissReport();
        }
        QCOMPARE(text1()->text(), typed[0]);
        QCOMPARE(text2()->text(), typed[1]);
        QVERIFY(!progress());
    }

    // An upper limit of 10^5 radians is 10^11 passes: far longer than the test.
    void aLongEvaluationShowsProgressAndCanBeCancelled()
    {
        startALongEvaluation();
        QVERIFY(progress()->labelText().startsWith(QStringLiteral("Calcolo dell'integrale in corso…\n")));
        // 10^11 passes: the share done to a tenth of a percent, and once its
        // estimate is steady, the time left.
        QVERIFY2(progress()->labelText().contains(QRegularExpression(QStringLiteral("\\n\\d+,\\d %"))),
                 qPrintable(progress()->labelText()));
        QTRY_VERIFY_WITH_TIMEOUT(progress()->labelText().contains(QStringLiteral(", mancano circa ")), kPatience);
        // No modal window: the window manager's close request gets through.
        QVERIFY(!QGuiApplication::modalWindow());
        QTRY_VERIFY_WITH_TIMEOUT(progress()->value() > 0, kPatience);

        // The window repaints, and takes no input.
        PaintCounter paints(form.get());
        form->update();
        QTRY_VERIFY_WITH_TIMEOUT(paints.count > 0, kPatience);
        click(option2());
        QVERIFY(!option2()->isChecked());
        typeInto(text1(), QStringLiteral("7"));
        QCOMPARE(text1()->text(), QStringLiteral("100000"));
        QCOMPARE(label4(), kSixSpaces);

        QPushButton* annulla = nullptr;
        for (QPushButton* button : progress()->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Annulla"))
                annulla = button;
        QVERIFY(annulla);
        click(annulla);
        QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
        QTRY_VERIFY(!progress()); // hidden at once, deleted when events next run
        QCOMPARE(label4(), kSixSpaces);
        QVERIFY(!report());

        text1()->clear();
        typeInto(text1(), QStringLiteral("1"));
        text2()->clear();
        typeInto(text2(), QStringLiteral("45"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
    }

    // Closing while the progress dialog is up stops the evaluation before
    // the window goes.
    void closingWithTheProgressShownStopsAtOnce()
    {
        startALongEvaluation();
        QVERIFY(form->close());
        QVERIFY(!busy());
        QVERIFY(!form->isVisible());
        QTRY_VERIFY(!progress());
    }

    // Escape cancels from whichever of the program's windows is active,
    // the main window included, after a click on it.
    void escapeOnTheMainWindowCancels()
    {
        startALongEvaluation();
        click(form.get());
        form->activateWindow();
        QTRY_VERIFY(form->isActiveWindow());
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : form.get(),
                        Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
        QCOMPARE(label4(), kSixSpaces);
        QTRY_VERIFY(!progress());
    }

    // A thread the system will not give: the click is reported, nothing is
    // lost, and the next click computes once threads are there again.
    void noThreadForTheEvaluationIsReported()
    {
        auto refuse = std::make_shared<bool>(false);
        form = std::make_unique<Form1>(",", [refuse](std::function<void()> body) {
            if (*refuse)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            return std::thread(std::move(body));
        });
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        typeInto(text1(), QStringLiteral("0.5"));
        typeInto(text2(), QStringLiteral("60"));
        click(option1());
        *refuse = true;
        click(calcolo());
        QVERIFY(!busy());
        QVERIFY(report());
        QCOMPARE(report()->text(), QStringLiteral("Calcolo non avviato"));
        QCOMPARE(label4(), kSixSpaces);
        dismissReport();
        QCOMPARE(text1()->text(), QStringLiteral("0.5"));
        typeInto(text2(), QStringLiteral("0")); // the window takes input
        QCOMPARE(text2()->text(), QStringLiteral("600"));
        *refuse = false;
        text2()->clear();
        typeInto(text2(), QStringLiteral("60"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("0,51617"), kPatience);
    }

    // Assistive technologies act on the controls directly, past the input
    // filter: while an evaluation runs, nothing they do sticks.
    void accessibilityActionsWaitForTheEvaluation()
    {
        startALongEvaluation();

        QAccessibleInterface* second = QAccessible::queryAccessibleInterface(option2());
        QVERIFY(second && second->actionInterface());
        for (const QString& action : second->actionInterface()->actionNames())
            second->actionInterface()->doAction(action);
        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(text1());
        QVERIFY(field);
        field->setText(QAccessible::Value, QStringLiteral("2"));
        if (QAccessibleEditableTextInterface* editable = field->editableTextInterface())
            editable->insertText(0, QStringLiteral("9"));
        QApplication::processEvents();

        QVERIFY(option1()->isChecked());
        QVERIFY(!option2()->isChecked());
        QCOMPARE(text1()->text(), QStringLiteral("100000"));
        QCOMPARE(label4(), kSixSpaces);
        QVERIFY(busy());
        QTest::keyClick(progress(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
        QCOMPARE(label4(), kSixSpaces); // cancelled, and no second kind after it
        QVERIFY(option1()->isChecked());
    }

    void theDecimalSeparatorComesFromTheLocale()
    {
        form = std::make_unique<Form1>(quadrilo::decimalSeparatorOf("en_US.UTF-8"));
        form->show();
        click(option2());
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1.56781"), kPatience);
    }

    // Pasting through the field's context menu is not typing: the text goes
    // in whole, of any length, and the conversion reads the number it starts
    // with.
    void pastedTextIsNotFilteredButConverted_data()
    {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<double>("limit");
        QTest::newRow("exponent and words") << QStringLiteral("1e0 rad") << 1.0;
        QTest::newRow("40,000 zeros first") << QString(40000, QLatin1Char('0')) + QStringLiteral("1.5") << 1.5;
    }
    void pastedTextIsNotFilteredButConverted()
    {
        QFETCH(QString, pasted);
        QFETCH(double, limit);
        QGuiApplication::clipboard()->setText(pasted);
        text1()->setFocus();
        std::unique_ptr<QMenu> menu(text1()->createStandardContextMenu());
        for (QAction* action : menu->actions())
            if (action->text().remove(QLatin1Char('&')).startsWith(QStringLiteral("Incolla")))
                action->trigger();
        QCOMPARE(text1()->text(), pasted);
        typeInto(text2(), QStringLiteral("45"));
        click(option1());
        click(calcolo());
        quadrilo::Engine engine(quadrilo::EngineSettings{1, quadrilo::bestIsa(), {}});
        const QString expected = QString::fromStdString(quadrilo::resultText(engine.firstKind(limit, 45)->sum, ","));
        QTRY_COMPARE_WITH_TIMEOUT(label4(), expected, kPatience);
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
