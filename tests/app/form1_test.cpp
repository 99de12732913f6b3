#include "app/startup.h"
#include "window_driver.h"
#include "platform/numfmt.h"

#include <QAccessible>
#include <QFontInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScrollArea>
#include <QtTest>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>
#include <private/qguiapplication_p.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Evaluations run on another thread; under Valgrind or the sanitizers they
// take many times longer than in a plain build.
constexpr int kPatience = 120000;
// 10^5 radians at 90 degrees, by a window whose engine sums every pass one
// by one: 10^11 passes, far longer than a test takes to watch them and
// cancel them, and each bar step of 10^6 passes quick even under Valgrind.
// By periods and bands they take a few seconds.
const QString kLongLimit = QStringLiteral("100000");

// What a screen reader is told: every accessibility event, with the name
// and role of its object as they were when it was sent.
struct Heard {
    QObject* object;
    QAccessible::Event type;
    QAccessible::Role role;
    QString name;
};
std::vector<Heard> heard;

void hear(QAccessibleEvent* event)
{
    QAccessibleInterface* spoken = event->accessibleInterface();
    heard.push_back({event->object(), event->type(), spoken ? spoken->role() : QAccessible::NoRole,
                     spoken ? spoken->text(QAccessible::Name) : QString()});
}

// The lines announced wherever the focus is: notifications shown.
QStringList announced()
{
    QStringList lines;
    for (const Heard& h : heard)
        if (h.type == QAccessible::ObjectShow && h.role == QAccessible::Notification)
            lines << h.name;
    return lines;
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
    // An evaluation of 10^11 passes, with its progress dialog up.
    void startALongEvaluation()
    {
        quadrilo::PeriodSettings passByPass;
        passByPass.enabled = false;
        form = std::make_unique<Form1>(",", quadrilo::ThreadFactory{}, passByPass);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        fill(kLongLimit, QStringLiteral("90"));
        click(option1());
        click(calcolo());
        QVERIFY(busy());
        QTRY_VERIFY_WITH_TIMEOUT(progress() && progress()->isVisible(), kPatience);
    }

private slots:
    void initTestCase()
    {
        prepareApplication();
        // As a screen reader would: events flow, to the recorder instead of
        // a bridge.
        QAccessible::installUpdateHandler(hear);
        QGuiApplicationPrivate::platformIntegration()->accessibility()->setActive(true);
    }
    void init()
    {
        form = std::make_unique<Form1>(",");
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
    }
    void cleanup() { form.reset(); }

    // The window starts empty with the focus on Calcolo. The option buttons
    // are one group: Tab enters it, the arrows move within it, Space selects
    // (and so blanks the result), Tab leaves it.
    void startsEmptyAndTabVisitsTheFieldsThenTheOptions()
    {
        QCOMPARE(form->windowTitle(), QStringLiteral("Form1"));
        QVERIFY(!form->windowIcon().isNull());
        QVERIFY((text1()->text() + text2()->text() + label4()).isEmpty());
        QVERIFY(!option1()->isChecked() && !option2()->isChecked());
        QCOMPARE(QApplication::focusWidget(), calcolo());
        for (QWidget* expected : {static_cast<QWidget*>(text1()), static_cast<QWidget*>(text2()),
                                  static_cast<QWidget*>(option1())}) {
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

    // Keys as the platform delivers them: an input method's commit is typed
    // text and goes through the filter; Tab carries the text "\t", which
    // the filter would cancel, and still moves the focus.
    void keysAsThePlatformDeliversThem()
    {
        text1()->setFocus();
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("1,a5° e-7"));
        QApplication::sendEvent(text1(), &commit);
        QCOMPARE(text1()->text(), QStringLiteral("15-7"));
        for (const auto& [key, to] : {std::pair{Qt::Key_Tab, text2()}, std::pair{Qt::Key_Backtab, text1()}}) {
            QKeyEvent press(QEvent::KeyPress, key, key == Qt::Key_Tab ? Qt::NoModifier : Qt::ShiftModifier,
                            QStringLiteral("\t"));
            QApplication::sendEvent(QApplication::focusWidget(), &press);
            QCOMPARE(QApplication::focusWidget(), to);
        }
    }

    // Steps: "1=text" and "2=text" type into a cleared Text1 or Text2, and
    // "p1=text" pastes into it from its context menu, "_" standing for a
    // space; "o1" and "o2" click the options, "c" clicks Calcolo and waits.
    // Pasting is not typing: the text goes in whole, of any length. Each ends
    // with the result shown and, when the click fails, the report's title
    // and a part of its text; the fields keep what was typed, and no
    // progress was shown for these short evaluations.
    void scenarios_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("aside");
        const auto row = [](const char* name, const QString& steps, const QString& shown,
                            const QString& title = {}, const QString& detail = {}, const QString& aside = {}) {
            QTest::newRow(name) << steps << shown << title << detail << aside;
        };
        const QString exactly = QStringLiteral("Integrale esatto: ");
        const QString differs = QStringLiteral("\nDifferenza della somma dei rettangoli: ");
        row("calcolo without option", "1=1 2=30 c", kSixSpaces);
        row("first kind", "1=1.5707963 2=30 o1 c", "1,68575", {}, {}, exactly + "1,685750328" + differs + "0,0000007309");
        // F(2 | m) with the sum's m, the squared sine of 90 degrees rounded: 1 − 2^-51.
        row("first kind where the sum is far off", "1=2 2=90 o1 c", "31,98406", {}, {},
            exactly + "36,59964249" + differs + "-4,616");
        row("first kind where the integral diverges", "1=2 2=89.999999 o1 c", "31,99133", {}, {},
            "L'integrale esatto diverge");
        row("first kind, empty fields", "o1 c", "0,", {}, {}, exactly + "0" + differs + "0,000001000");
        row("second kind", "1=100 2=-5 o2 c", "1,56781", {}, {}, exactly + "1,567809097" + differs + "0,0000006494");
        row("switching kind blanks", "1=1 2=45 o1 c o2", kTwoSpaces);
        row("then the second kind", "1=1 2=45 o1 c o2 c", "1,56781", {}, {}, exactly + "1,567809097");
        row("selected option again blanks", "1=1 2=45 o1 c o1", kTwoSpaces);
        row("editing a field keeps the result", "1=1 2=45 o1 c 2=0", "1,08322", {}, {}, exactly + "1,083216775");
        // Each term is h: the sum is the counter, 10^-6 past the limit.
        row("and calcolo takes the edit", "1=1 2=45 o1 c 2=0 c", "1,", {}, {}, exactly + "1,000000000" + differs + "7,918E-12");
        row("division by zero", "1=142.9424658 2=89.999999 o1 c", kSixSpaces, "Errore di run-time '11'",
            "Divisione per zero");
        row("limit beyond a double", "1=" + QString(400, QLatin1Char('9')) + " 2=30 o1 c", kSixSpaces,
            "Errore di run-time '6'", "Overflow");
        row("pasted with an exponent and words", "p1=1e0_rad 2=45 o1 c", "1,08322", {}, {}, exactly + "1,083216775");
        row("pasted past Qt's usual 32,767 characters", "p1=" + QString(40000, QLatin1Char('0')) + "1 2=45 o1 c",
            "1,08322", {}, {}, exactly + "1,083216775");
        row("limit where the loop never ends", "1=17179869184 2=30 o1 c", kSixSpaces, "Valore non accettato",
            "passo 0,000001 il calcolo");
    }
    void scenarios()
    {
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        QFETCH(QString, title);
        QFETCH(QString, detail);
        QFETCH(QString, aside);
        heard.clear();
        QString typed[2];
        for (const QString& step : steps.split(QLatin1Char(' '))) {
            const int equals = step.indexOf(QLatin1Char('='));
            if (equals > 0) {
                const int field = step[equals - 1] == QLatin1Char('1') ? 0 : 1;
                QLineEdit* target = field ? text2() : text1();
                typed[field] = step.mid(equals + 1).replace(QLatin1Char('_'), QLatin1Char(' '));
                target->clear();
                if (step.startsWith(QLatin1Char('p')))
                    pasteInto(target, typed[field]);
                else
                    typeInto(target, typed[field]);
            } else {
                click(step == QLatin1String("c") ? static_cast<QWidget*>(calcolo())
                      : step == QLatin1String("o1") ? option1() : option2());
                QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
            }
        }
        QCOMPARE(label4(), shown);
        // A screen reader hears the caption exactly as the result's name,
        // and, wherever the focus is, the last result announced.
        QAccessibleInterface* result = QAccessible::queryAccessibleInterface(child<QLabel>("Label4"));
        QCOMPARE(result->text(QAccessible::Name), shown);
        if (!shown.trimmed().isEmpty())
            QCOMPARE(announced().value(announced().size() - 1), QStringLiteral("Integrale ") + shown);
        else if (!steps.contains(QLatin1String(" c o")))
            QVERIFY(announced().isEmpty());
        const QString tip = child<QLabel>("Label4")->toolTip();
        QCOMPARE(result->text(QAccessible::Description), tip);
        QVERIFY2(aside.isEmpty() ? tip.isEmpty() : tip.startsWith(aside), qPrintable(tip));
        QCOMPARE(report() ? report()->text() : QString(), title);
        // A report is an alert, which screen readers speak as it opens.
        QCOMPARE(std::any_of(heard.begin(), heard.end(), [](const Heard& h) { return h.type == QAccessible::Alert; }),
                 !title.isEmpty());
        if (report()) {
            QVERIFY2(report()->informativeText().contains(detail), qPrintable(report()->informativeText()));
            click(report()->button(QMessageBox::Ok));
        }
        QCOMPARE(text1()->text(), typed[0]);
        QCOMPARE(text2()->text(), typed[1]);
        // On a loaded machine an evaluation may outlast the dialog's delay:
        // hidden when it ends, the dialog goes when events next run.
        QTRY_VERIFY(!progress());
    }

    // The result's menu copies the whole caption, and so do a click on it
    // and the copy keys.
    void theResultIsCopied()
    {
        QLabel* result = child<QLabel>("Label4");
        const auto copyFromMenu = [&] {
            QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, QPoint(4, 4), result->mapToGlobal(QPoint(4, 4)));
            QApplication::sendEvent(result, &menuEvent);
            QMenu* menu = nullptr;
            for (QMenu* shown : form->findChildren<QMenu*>(QStringLiteral("resultMenu")))
                if (shown->isVisible())
                    menu = shown;
            QVERIFY(menu);
            QCOMPARE(menu->actions().size(), 1);
            QAction* copia = menu->actions().front();
            QCOMPARE(copia->text(), QStringLiteral("Copia"));
            if (copia->isEnabled())
                copia->trigger();
            menu->close();
            form->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(form.get()));
        };
        QClipboard* clipboard = QGuiApplication::clipboard();
        fill(QStringLiteral("1"), QStringLiteral("45"));
        click(option1());
        clipboard->setText(QStringLiteral("prima"));
        copyFromMenu(); // a blank caption: nothing to copy
        QCOMPARE(clipboard->text(), QStringLiteral("prima"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
        copyFromMenu();
        QCOMPARE(clipboard->text(), QStringLiteral("1,08322"));

        clipboard->setText(QStringLiteral("prima"));
        click(result);
        QCOMPARE(QApplication::focusWidget(), result);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(clipboard->text(), QStringLiteral("1,08322"));
        clipboard->setText(QStringLiteral("prima"));
        QTest::keyClick(result, Qt::Key_A); // any other key copies nothing
        QCOMPARE(clipboard->text(), QStringLiteral("prima"));
    }

    // From the keyboard alone: the copy keys on Calcolo or on either option
    // copy the whole caption, and a blank one leaves the clipboard alone.
    // A field still cancels its own Ctrl+C.
    void theResultIsCopiedFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("copied");
        const QString kept = QStringLiteral("prima");
        for (const char* focus : {"Command1", "Option1", "Option2"})
            for (const auto& [keyName, key] : {std::pair{"Ctrl+C", int(Qt::Key_C)}, std::pair{"Ctrl+Ins", int(Qt::Key_Insert)}}) {
                QTest::addRow("%s, %s, after a result", focus, keyName) << focus << key << true << "1,08322";
                QTest::addRow("%s, %s, blank", focus, keyName) << focus << key << false << kept;
            }
        QTest::newRow("Text1, Ctrl+C, after a result") << "Text1" << int(Qt::Key_C) << true << kept;
        QTest::newRow("Text2, Ctrl+C, after a result") << "Text2" << int(Qt::Key_C) << true << kept;
    }
    void theResultIsCopiedFromTheKeyboard()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(bool, result);
        QFETCH(QString, copied);
        fill(QStringLiteral("1"), QStringLiteral("45"));
        click(option1());
        if (result) {
            click(calcolo());
            QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
        }
        const QString caption = label4();
        for (QLineEdit* field : {text1(), text2()})
            field->selectAll();
        QGuiApplication::clipboard()->setText(QStringLiteral("prima"));
        QWidget* control = child<QWidget>(focus.toLatin1().constData());
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        control->setFocus(Qt::TabFocusReason);
        QTRY_COMPARE(QApplication::focusWidget(), control);
        QTest::keyClick(control, Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), copied);
        QCOMPARE(label4(), caption);
        QVERIFY(!busy());
    }

    // A screen reader finds "Copia" among the result's actions once there is
    // a result to copy, and invoking it fills the clipboard.
    void theResultHasTheAccessibleActionCopia()
    {
        QAccessibleInterface* result = QAccessible::queryAccessibleInterface(child<QLabel>("Label4"));
        QVERIFY(result && result->actionInterface());
        QAccessibleActionInterface* actions = result->actionInterface();
        const QString copia = QStringLiteral("Copia");
        QVERIFY(!actions->actionNames().contains(copia));

        fill(QStringLiteral("1"), QStringLiteral("45"));
        click(option1());
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
        QVERIFY(actions->actionNames().contains(copia));
        QGuiApplication::clipboard()->setText(QStringLiteral("prima"));
        actions->doAction(copia);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1,08322"));

        click(option2()); // blanks the result, and the action goes with it
        QVERIFY(!actions->actionNames().contains(copia));
    }

    void aLongEvaluationShowsProgressAndCanBeCancelled()
    {
        startALongEvaluation();
        QVERIFY(progress()->labelText().startsWith(QStringLiteral("Calcolo dell'integrale in corso…\n")));
        // 10^11 passes: the share done to a tenth of a percent, and once its
        // estimate is steady, the time left.
        QVERIFY2(progress()->labelText().contains(QRegularExpression(QStringLiteral("\\n\\d+,\\d %"))),
                 qPrintable(progress()->labelText()));
        QTRY_VERIFY_WITH_TIMEOUT(progress()->labelText().contains(QStringLiteral(", mancano circa ")), kPatience);
        // The text moves twenty times a second; a screen reader hears of it
        // at most once a second. The bar has a name.
        auto* text = progress()->findChild<QLabel*>(QStringLiteral("progressText"));
        QVERIFY(text && text->text() == progress()->labelText());
        heard.clear();
        QElapsedTimer listening;
        listening.start();
        QTest::qWait(2500);
        const auto told = std::count_if(heard.begin(), heard.end(), [text](const Heard& h) { return h.object == text; });
        QVERIFY2(told >= 2 && told <= listening.elapsed() / 1000 + 1, qPrintable(QString::number(told)));
        QVERIFY(QAccessible::queryAccessibleInterface(text)->text(QAccessible::Name).contains(QStringLiteral(" %")));
        QCOMPARE(QAccessible::queryAccessibleInterface(progress()->findChild<QProgressBar*>())->text(QAccessible::Name),
                 QStringLiteral("Avanzamento del calcolo"));
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
        QCOMPARE(text1()->text(), kLongLimit);
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

        fill(QStringLiteral("1"), QStringLiteral("45"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1,08322"), kPatience);
    }

    // No thread from the system for the evaluations: the click is reported,
    // nothing is lost, and the next click computes once threads are there
    // again. A click makes no thread of its own, so only a window that
    // started without one meets this.
    void noThreadForTheEvaluationIsReported()
    {
        auto refuse = std::make_shared<bool>(true);
        form = std::make_unique<Form1>(",", [refuse](std::function<void()> body) {
            if (*refuse)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            return std::thread(std::move(body));
        });
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        fill(QStringLiteral("0.5"), QStringLiteral("60"));
        click(option1());
        click(calcolo());
        QVERIFY(!busy() && report());
        QCOMPARE(report()->text(), QStringLiteral("Calcolo non avviato"));
        QCOMPARE(label4(), kSixSpaces);
        click(report()->button(QMessageBox::Ok));
        QCOMPARE(text1()->text(), QStringLiteral("0.5"));
        typeInto(text2(), QStringLiteral("0")); // the window takes input
        QCOMPARE(text2()->text(), QStringLiteral("600"));
        *refuse = false;
        fill(QStringLiteral("0.5"), QStringLiteral("60"));
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("0,51617"), kPatience);
    }

    // Assistive technologies act on the controls directly, past the input
    // filter: while an evaluation runs, nothing they do sticks.
    void accessibilityActionsWaitForTheEvaluationAndClosingStopsIt()
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

        QVERIFY(option1()->isChecked() && !option2()->isChecked());
        QCOMPARE(text1()->text(), kLongLimit);
        QCOMPARE(label4(), kSixSpaces);
        QVERIFY(busy());
        QTest::keyClick(progress(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!busy(), kPatience);
        QCOMPARE(label4(), kSixSpaces); // cancelled, and no second kind after it
        QVERIFY(option1()->isChecked());

        // Closing with the progress shown stops before the window goes.
        click(calcolo());
        QTRY_VERIFY_WITH_TIMEOUT(progress() && progress()->isVisible(), kPatience);
        QVERIFY(form->close());
        QVERIFY(!busy() && !form->isVisible());
        QTRY_VERIFY(!progress());
    }

    void theDecimalSeparatorComesFromTheLocale()
    {
        form = std::make_unique<Form1>(quadrilo::decimalSeparatorOf("en_US.UTF-8"));
        form->show();
        click(option2());
        click(calcolo());
        QTRY_COMPARE_WITH_TIMEOUT(label4(), QStringLiteral("1.56781"), kPatience);
    }


    // Sixteen controls, each caption whole in a bold design face or the free
    // face installed for it, on no other control, and in what a screen reader
    // calls it: a field by the caption that labels it, the picture by what it
    // shows, and the result by "Integrale" through a relation.
    void controls()
    {
        const QWidgetList controls = form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        QCOMPARE(controls.size(), 16);
        const auto spoken = [](QWidget* w) { return QAccessible::queryAccessibleInterface(w); };
        for (QWidget* w : controls) {
            const QString caption = w->property("text").toString();
            if (qobject_cast<QLabel*>(w))
                QVERIFY(w->width() >= QFontMetricsF(w->font()).horizontalAdvance(caption));
            if (auto* button = qobject_cast<QAbstractButton*>(w))
                QVERIFY2(button->sizeHint().boundedTo(w->size()) == button->sizeHint(), "caption cut off");
            const QFontInfo face(w->font());
            QVERIFY2(w == child<QWidget>("Image1") || (face.bold() && QStringList({"MS Sans Serif", "Liberation Sans",
                                                          "Verdana", "DejaVu Sans"}).contains(face.family())),
                     qPrintable(face.family()));
            for (QWidget* other : controls)
                QVERIFY2(other == w || !other->geometry().intersects(w->geometry()), qPrintable(other->objectName()));
            QVERIFY2(spoken(w)->text(QAccessible::Name).contains(caption), qPrintable(w->objectName()));
        }
        QCOMPARE(spoken(text1())->text(QAccessible::Name), child<QLabel>("Label5")->text());
        QCOMPARE(spoken(text2())->text(QAccessible::Name), child<QLabel>("Label6")->text());
        QVERIFY(!spoken(child<QWidget>("Image1"))->text(QAccessible::Description).isEmpty());
        const auto labels = spoken(child<QLabel>("Label4"))->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.front().first->text(QAccessible::Name), QStringLiteral("Integrale"));
    }

    // The whole design is shown, and resizing moves nothing and adds no
    // scroll bars.
    void theWindowShowsTheWholeLayoutAndResizingMovesNothing()
    {
        if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR")) // the scaled run really is scaled
            QCOMPARE(form->devicePixelRatioF(), qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        QHash<QWidget*, QRect> before;
        QRect used;
        for (QWidget* w : form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            before.insert(w, w->geometry());
            used |= w->geometry();
        }
        QVERIFY(form->rect().contains(used));
        for (const QSize size : {QSize(300, 200), QSize(1400, 900), QSize(996, 609)}) {
            form->resize(size);
            QApplication::processEvents();
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                QCOMPARE(it.key()->geometry(), it.value());
        }
        QVERIFY(form->findChildren<QScrollArea*>().isEmpty());
    }

    // The picture at its designed size, whatever the scale.
    void theFormulaPicture()
    {
        auto* image = static_cast<QLabel*>(child<QWidget>("Image1"));
        QCOMPARE(image->pixmap().deviceIndependentSize(), QSizeF(257, 161));
        QVERIFY(image->pixmap().toImage().allGray());
    }
};

QTEST_MAIN(Form1Test)
#include "form1_test.moc"
