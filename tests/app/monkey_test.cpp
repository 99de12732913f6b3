// Thousands of random events on the real window, from a logged seed:
//   QUADRILO_MONKEY_SEED=n QUADRILO_MONKEY_EVENTS=k ./monkey_test   replays one
// After each event the window is idle, and Label4 is blank, unchanged, or
// what the engine itself gives for the fields as they are; a report is up
// only when the engine refuses them, and says why in the engine's words.
#include "app/form1.h"
#include "app/startup.h"
#include "window_driver.h"
#include "compute/engine.h"
#include "compute/input.h"
#include "compute/keyfilter.h"
#include "platform/errors.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QtTest>

#include <random>

class MonkeyTest : public QObject, protected WindowDriver {
    Q_OBJECT

    quadrilo::Engine engine;
    std::mt19937_64 random;
    int cancelled = 0, reports = 0;

    int below(int n) { return static_cast<int>(random() % static_cast<std::uint64_t>(n)); }
    QLineEdit* anyField() { return below(2) ? text2() : text1(); }

    QString randomText()
    {
        QString text;
        const int kind = below(5);
        for (int i = below(12); i-- > 0;)
            text += kind == 0 ? QChar(u'a' + below(26))
                    : kind == 1 ? QStringLiteral("+-.e7")[below(5)]
                    : kind == 2 ? QChar(char16_t(below(0xD800)))
                                : QChar(u'0' + below(10));
        if (kind == 4) // a plausible number, sometimes with words after it
            text = QString::number(below(2000) / 1000.0 - 0.2) + (below(3) ? QString() : QStringLiteral(" rad"));
        return below(20) ? text : QString(10000, QLatin1Char('7'));
    }

    // A key as X11 delivers it: a character code, control keys included, or
    // a key without one. Returns whether the key filter cancels it.
    bool pressKey(QLineEdit* target)
    {
        static const int silent[] = {Qt::Key_Left, Qt::Key_Home, Qt::Key_End, Qt::Key_Delete, Qt::Key_Tab};
        const int code = below(300) - 1;
        const bool control = code >= 0 && code < 0x20 && code != 8 && code != 13 && code != 27;
        const int key = code >= 256 ? silent[code % 5]
                        : code == 8 ? Qt::Key_Backspace
                        : code == 13 ? Qt::Key_Return
                        : code == 27 ? Qt::Key_Escape
                        : code > 0x20 && code < 0x7f ? QChar(code).toUpper().unicode()
                                                      : Qt::Key_unknown;
        const QString text = code >= 0 && code < 256 ? QString(QChar(char16_t(code))) : QString();
        QKeyEvent press(QEvent::KeyPress, key, control ? Qt::ControlModifier : Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
        return code >= 0 && code < 256 && quadrilo::filterKey(code) == 0;
    }

    void paste(QLineEdit* target)
    {
        QGuiApplication::clipboard()->setText(randomText());
        std::unique_ptr<QMenu> menu(target->createStandardContextMenu());
        for (QAction* action : menu->actions())
            if (action->text().remove(QLatin1Char('&')).startsWith(QStringLiteral("Incolla")))
                action->trigger();
    }

    // What a screen reader can do: press a button, or set a field's text.
    // Returns whether it pressed Calcolo.
    bool actAccessibly()
    {
        QWidget* targets[] = {option1(), option2(), calcolo(), text1(), text2()};
        QWidget* widget = targets[below(5)];
        QAccessibleInterface* target = QAccessible::queryAccessibleInterface(widget);
        if (target->role() == QAccessible::EditableText)
            target->setText(QAccessible::Value, randomText());
        else { // a pressed button lets go a moment later
            target->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            if (!QTest::qWaitFor([widget] { return !static_cast<QAbstractButton*>(widget)->isDown(); }))
                qFatal("a button stayed pressed");
        }
        waitUntilIdle();
        return widget == calcolo();
    }

    // Cancels with Escape what is still running after a moment, as an
    // impatient user would.
    void waitUntilIdle()
    {
        if (QTest::qWaitFor([this] { return !busy(); }, 200))
            return;
        ++cancelled;
        QTest::keyClick(form.get(), Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!busy(), 60000);
    }

    // Label4 after a click on Calcolo: the engine's result or nothing.
    QString resultFor(QString& failure)
    {
        if (option2()->isChecked())
            return QStringLiteral("1,56781");
        if (!option1()->isChecked())
            return QStringLiteral("      ");
        try {
            const auto input =
                quadrilo::readFirstKindInput(text1()->text().toStdString(), text2()->text().toStdString());
            return QString::fromStdString(quadrilo::resultText(engine.firstKind(input.phi, input.degrees)->sum, ","));
        } catch (const quadrilo::Failure& refused) {
            failure = QString::fromStdString(refused.title());
            return QStringLiteral("      ");
        }
    }

private slots:
    void initTestCase() { prepareApplication(); }

    void randomEventsNeverBreakTheWindow()
    {
        const quint64 seed = qEnvironmentVariableIsSet("QUADRILO_MONKEY_SEED")
                                 ? qEnvironmentVariable("QUADRILO_MONKEY_SEED").toULongLong()
                                 : 20261207;
        const int events = qEnvironmentVariableIsSet("QUADRILO_MONKEY_EVENTS")
                               ? qEnvironmentVariableIntValue("QUADRILO_MONKEY_EVENTS")
                               : 3000;
        qInfo("monkey: seed %llu, %d events", seed, events);
        random.seed(seed);
        form = std::make_unique<Form1>(",");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        for (int event = 0; event < events; ++event) {
            const QString before = label4(), typed[2] = {text1()->text(), text2()->text()};
            const QString fields = typed[0].left(40) + " | " + typed[1].left(40);
            const int kind = below(100);
            QString failure;
            bool clicked = false, ignored = false;
            const QString clipboard = QGuiApplication::clipboard()->text();
            if (kind < 45)
                ignored = pressKey(anyField());
            else if (kind < 52)
                click(option1());
            else if (kind < 58)
                click(option2());
            else if (kind < 72) {
                click(calcolo());
                clicked = true;
                waitUntilIdle();
            } else if (kind < 82)
                paste(anyField());
            else if (kind < 85) // slow: a pressed button lets go after 100 ms
                clicked = actAccessibly();
            else if (kind < 93)
                form->resize(200 + below(1200), 150 + below(750));
            else
                anyField()->clear();
            QCoreApplication::processEvents();

            const QString now = label4();
            const QString where = QStringLiteral("seed %1, event %2 of kind %3, fields \"%4\": Label4 \"%5\", was \"%6\"")
                                      .arg(seed).arg(event).arg(kind).arg(fields, now, before);
            QVERIFY2(!busy(), qPrintable(where));
            // A cancelled key does nothing at all: no edit, no clipboard.
            if (ignored)
                QVERIFY2(text1()->text() == typed[0] && text2()->text() == typed[1] &&
                             QGuiApplication::clipboard()->text() == clipboard,
                         qPrintable(where));
            if (report()) {
                QVERIFY2(clicked, qPrintable(where));
                resultFor(failure);
                QCOMPARE(report()->text(), failure);
                click(report()->button(QMessageBox::Ok));
                QTRY_VERIFY(!report());
                ++reports;
            }
            if (kind >= 45 && kind < 58)
                QVERIFY2(now == QStringLiteral("  "), qPrintable(where));
            const bool blank = now.isEmpty() || now.trimmed().isEmpty();
            if (!blank && now != before)
                QVERIFY2(now == resultFor(failure), qPrintable(where));
        }
        qInfo("monkey: %d events, %d cancelled, %d reported, all as the engine says", events, cancelled, reports);
    }
};

QTEST_MAIN(MonkeyTest)
#include "monkey_test.moc"
