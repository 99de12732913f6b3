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
#include <QSignalSpy>
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

    void typing_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("shown");
        QTest::newRow("digits and point") << "1.5707963" << "1.5707963";
        QTest::newRow("exponent letter cancelled") << "-1.5e3" << "-1.53";
        QTest::newRow("letters, space and comma cancelled") << "a b,c" << "";
        QTest::newRow("signs and points anywhere") << "--5.1.2+" << "--5.1.2+";
        QTest::newRow("backspace deletes") << QStringLiteral("12\b3") << "13";
        QTest::newRow("degree sign cancelled") << QStringLiteral("9°0") << "90";
    }
    void typing()
    {
        QFETCH(QString, keys);
        QFETCH(QString, shown);
        for (QLineEdit* field : {text1(), text2()}) {
            typeInto(field, keys);
            QCOMPARE(field->text(), shown);
        }
    }

    // Keys as a real keyboard delivers them, with the text that QTest leaves out.
    void realKeys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("after");
        const int ctrl = Qt::ControlModifier;
        QTest::newRow("ctrl+c cancelled") << int(Qt::Key_C) << ctrl << QStringLiteral("\x03") << "1|23";
        QTest::newRow("ctrl+x cancelled") << int(Qt::Key_X) << ctrl << QStringLiteral("\x18") << "1|23";
        QTest::newRow("ctrl+v cancelled") << int(Qt::Key_V) << ctrl << QStringLiteral("\x16") << "1|23";
        QTest::newRow("ctrl+z cancelled") << int(Qt::Key_Z) << ctrl << QStringLiteral("\x1a") << "1|23";
        QTest::newRow("return cancelled") << int(Qt::Key_Return) << 0 << QStringLiteral("\r") << "1|23";
        QTest::newRow("escape cancelled") << int(Qt::Key_Escape) << 0 << QStringLiteral("\x1b") << "1|23";
        QTest::newRow("delete deletes") << int(Qt::Key_Delete) << 0 << QStringLiteral("\x7f") << "1|3";
        QTest::newRow("backspace deletes") << int(Qt::Key_Backspace) << 0 << QStringLiteral("\b") << "|23";
        QTest::newRow("left moves") << int(Qt::Key_Left) << 0 << QString() << "|123";
        QTest::newRow("end moves") << int(Qt::Key_End) << 0 << QString() << "123|";
        QTest::newRow("digit typed") << int(Qt::Key_7) << 0 << QStringLiteral("7") << "17|23";
    }
    void realKeys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QString, after);
        QGuiApplication::clipboard()->setText(QStringLiteral("99"));
        QLineEdit* field = text2();
        field->setText(QStringLiteral("123"));
        field->setFocus();
        field->setCursorPosition(1);
        QSignalSpy returns(field, &QLineEdit::returnPressed);
        pressKey(field, key, Qt::KeyboardModifiers(modifiers), text);
        QString shown = field->text();
        shown.insert(field->cursorPosition(), QLatin1Char('|'));
        QCOMPARE(shown, after);
        QCOMPARE(returns.count(), 0);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("99"));
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

    void clickFlows_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("clicks"); // 1, 2: the options; C: Calcolo
        QTest::addColumn<QString>("shown");
        QTest::newRow("calcolo without option") << "1" << "30" << "C" << kSixSpaces;
        QTest::newRow("first option blanks") << "1" << "30" << "1" << kTwoSpaces;
        QTest::newRow("second option blanks") << "1" << "30" << "2" << kTwoSpaces;
        QTest::newRow("first kind") << "1.5707963" << "30" << "1C" << "1,68575";
        QTest::newRow("first kind, argument 0") << "1.5707963" << "0" << "1C" << "1,5708";
        QTest::newRow("first kind, one million passes") << "1" << "45" << "1C" << "1,08322";
        QTest::newRow("first kind, negative argument") << "1" << "-45" << "1C" << "1,08322";
        QTest::newRow("first kind, empty fields") << "" << "" << "1C" << "0,";
        QTest::newRow("first kind, negative limit") << "-1" << "30" << "1C" << "0,";
        QTest::newRow("second kind") << "100" << "-5" << "2C" << "1,56781";
        QTest::newRow("second kind, empty fields") << "" << "" << "2C" << "1,56781";
        QTest::newRow("switching kind blanks") << "1" << "45" << "1C2" << kTwoSpaces;
        QTest::newRow("then the second kind") << "1" << "45" << "1C2C" << "1,56781";
        QTest::newRow("selected option again blanks") << "1" << "45" << "1C1" << kTwoSpaces;
    }
    void clickFlows()
    {
        QFETCH(QString, limit);
        QFETCH(QString, argument);
        QFETCH(QString, clicks);
        QFETCH(QString, shown);
        typeInto(text1(), limit);
        typeInto(text2(), argument);
        for (const QChar c : clicks) {
            QWidget* target = calcolo();
            if (c == QLatin1Char('1'))
                target = option1();
            else if (c == QLatin1Char('2'))
                target = option2();
            click(target);
            QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
        }
        QCOMPARE(label4(), shown);
        QVERIFY(!report());
    }

    void editingAFieldKeepsTheResult()
    {
        typeInto(text1(), QStringLiteral("1"));
        typeInto(text2(), QStringLiteral("45"));
        click(option1());
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
        text2()->clear();
        typeInto(text2(), QStringLiteral("0"));
        QCOMPARE(label4(), QStringLiteral("1,08322"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,"), kPatience); // each term is h: the sum is the counter
    }

    void aShortEvaluationShowsNoProgress()
    {
        typeInto(text1(), QStringLiteral("0.5"));
        typeInto(text2(), QStringLiteral("60"));
        click(option1());
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("0,51617"), kPatience);
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

    void closingDuringAnEvaluationEndsCleanly()
    {
        typeInto(text1(), QStringLiteral("100000"));
        click(option2());
        click(option1());
        click(calcolo());
        QVERIFY(busy());
        form->close();
        form.reset(); // stops the evaluation and waits for its thread
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

    // Every way an evaluation can fail is reported, and the window goes on.
    void failuresAreReportedAndTheWindowGoesOn_data()
    {
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::newRow("division by zero")
            << "142.9424658" << "89.999999" << "Errore di run-time '11'" << "Divisione per zero";
        QTest::newRow("limit beyond a double") << QString(400, QLatin1Char('9')) << "30"
                                               << "Errore di run-time '6'" << "Overflow";
        QTest::newRow("argument beyond a double") << "1" << "-" + QString(400, QLatin1Char('9'))
                                                  << "Errore di run-time '6'" << "Overflow";
        QTest::newRow("limit where the loop never ends")
            << "17179869184" << "30" << "Valore non accettato" << "passo 0,000001 il calcolo";
    }
    void failuresAreReportedAndTheWindowGoesOn()
    {
        QFETCH(QString, limit);
        QFETCH(QString, argument);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        typeInto(text1(), limit);
        typeInto(text2(), argument);
        click(option1());
        click(calcolo());

        QTRY_VERIFY_WITH_TIMEOUT(report(), kPatience);
        QMessageBox* box = report();
        QVERIFY(box->isVisible());
        QCOMPARE(box->text(), title);
        QVERIFY2(box->informativeText().contains(detail), qPrintable(box->informativeText()));
        QCOMPARE(label4(), kSixSpaces);
        QCOMPARE(text1()->text(), limit);
        QCOMPARE(text2()->text(), argument);
        dismissReport();

        text1()->clear();
        text2()->clear();
        typeInto(text1(), QStringLiteral("0.5"));
        typeInto(text2(), QStringLiteral("60"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("0,51617"), kPatience);
        QVERIFY(!report());
    }

    // The fields take text of any length: a number after 40,000 zeros.
    void longPastedTextIsKeptWhole()
    {
        QGuiApplication::clipboard()->setText(QString(40000, QLatin1Char('0')) + QStringLiteral("1.5"));
        text1()->setFocus();
        std::unique_ptr<QMenu> menu(text1()->createStandardContextMenu());
        for (QAction* action : menu->actions())
            if (action->text().remove(QLatin1Char('&')).startsWith(QStringLiteral("Incolla")))
                action->trigger();
        QCOMPARE(text1()->text().size(), 40003);
        typeInto(text2(), QStringLiteral("45"));
        click(option1());
        click(calcolo());
        quadrilo::Engine engine(quadrilo::EngineSettings{1, quadrilo::bestIsa(), {}});
        const QString expected = QString::fromStdString(quadrilo::resultText(engine.firstKind(1.5, 45)->sum, ","));
        QTRY_COMPARE_WITH_TIMEOUT(label4(), expected, kPatience);
    }

    // The menu shows no shortcut: the key filter cancels all of them.
    void theFieldMenuListsNoDeadShortcuts()
    {
        for (QLineEdit* field : {text1(), text2()}) {
            emit field->customContextMenuRequested(QPoint(5, 5));
            auto* menu = form->findChild<QMenu*>(QStringLiteral("fieldMenu"));
            QVERIFY(menu);
            int named = 0;
            for (QAction* action : menu->actions()) {
                if (action->isSeparator())
                    continue;
                ++named;
                QVERIFY2(!action->text().contains(QLatin1Char('\t')), qPrintable(action->text()));
                QVERIFY(action->shortcut().isEmpty());
            }
            QVERIFY(named >= 5); // Annulla, Taglia, Copia, Incolla, Seleziona tutto...
            menu->close();
            QTRY_VERIFY(!form->findChild<QMenu*>(QStringLiteral("fieldMenu")));
        }
    }

    // Pasting through the field's context menu is not typing: the text goes
    // in whole, and the conversion reads the number it starts with.
    void pastedTextIsNotFilteredButConverted()
    {
        QGuiApplication::clipboard()->setText(QStringLiteral("1e0 rad"));
        text1()->setFocus();
        std::unique_ptr<QMenu> menu(text1()->createStandardContextMenu());
        QAction* paste = nullptr;
        for (QAction* action : menu->actions())
            if (action->text().remove(QLatin1Char('&')).startsWith(QStringLiteral("Incolla")))
                paste = action;
        QVERIFY(paste);
        paste->trigger();
        QCOMPARE(text1()->text(), QStringLiteral("1e0 rad"));
        typeInto(text2(), QStringLiteral("45"));
        click(option1());
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
