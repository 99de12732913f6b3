// Thousands of random events on the real window, from a logged seed:
//   QUADRILO_MONKEY_SEED=n QUADRILO_MONKEY_EVENTS=k ./monkey_test   replays one
// After each event the window is idle, and Label4 is blank, unchanged, or
// what the engine itself gives for the fields as they are; a report is up
// only when the engine refuses them, and says why in the engine's words.
#include "app/form1.h"
#include "app/startup.h"
#include "window_driver.h"
#include "compute/engine.h"
#include "platform/convert.h"
#include "platform/errors.h"
#include "platform/keyfilter.h"
#include "platform/numfmt.h"

#include <QAccessible>
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
        if (below(20) == 0)
            return QString(10000, QLatin1Char('7'));
        if (below(5) == 0) // a plausible number, sometimes with words after it
            return QString::number(below(2000) / 1000.0 - 0.2) + (below(3) ? QString() : QStringLiteral(" rad"));
        QString text; // any characters, or those of numbers
        const int kind = below(3);
        for (int i = below(12); i-- > 0;)
            text += kind == 0 ? QChar(char16_t(below(0xD800)))
                              : QStringLiteral("0123456789+-.e")[below(kind == 1 ? 14 : 10)];
        return text;
    }

    // A key as X11 delivers it: a character code, control keys included, or
    // a key without one. Returns whether the key filter cancels it.
    bool pressKey(QLineEdit* target)
    {
        static const int silent[] = {Qt::Key_Left, Qt::Key_Home, Qt::Key_End, Qt::Key_Delete, Qt::Key_Tab};
        static const QHash<int, int> named = {{8, Qt::Key_Backspace}, {13, Qt::Key_Return}, {27, Qt::Key_Escape}};
        const int code = below(300) - 1;
        const bool character = code >= 0 && code < 256;
        const int key = !character                  ? silent[(code + 1) % 5]
                        : named.contains(code)      ? named[code]
                        : code > 0x20 && code < 0x7f ? QChar(code).toUpper().unicode()
                                                      : Qt::Key_unknown;
        const bool control = code < 0x20 && key == Qt::Key_unknown;
        QKeyEvent press(QEvent::KeyPress, key, control ? Qt::ControlModifier : Qt::NoModifier,
                        character ? QString(QChar(char16_t(code))) : QString());
        QApplication::sendEvent(target, &press);
        return character && quadrilo::filterKey(code) == 0;
    }

    // What a screen reader can do: press a button, or set a field's text.
    // Returns whether it pressed Calcolo.
    bool actAccessibly()
    {
        QWidget* widget = QList<QWidget*>{option1(), option2(), calcolo(), text1(), text2()}[below(5)];
        QAccessibleInterface* target = QAccessible::queryAccessibleInterface(widget);
        if (target->role() == QAccessible::EditableText)
            target->setText(QAccessible::Value, randomText());
        else { // a pressed button lets go a moment later
            target->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            if (!QTest::qWaitFor([widget] { return !static_cast<QAbstractButton*>(widget)->isDown(); }))
                qFatal("a button stayed pressed");
        }
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

    // Label4 after a click on Calcolo, and the report's title if any.
    QString resultFor(QString& failure)
    {
        if (option2()->isChecked())
            return QStringLiteral("1,56781");
        if (!option1()->isChecked())
            return kSixSpaces;
        try {
            const double phi = quadrilo::textToNumber(text1()->text().toStdString());
            const double degrees = quadrilo::textToNumber(text2()->text().toStdString());
            return QString::fromStdString(quadrilo::formatFiveDecimals(engine.firstKind(phi, degrees)->sum, ","));
        } catch (const quadrilo::Failure& refused) {
            failure = QString::fromStdString(refused.title());
            return kSixSpaces;
        }
    }

private slots:
    void initTestCase() { prepareApplication(); }

    void randomEventsNeverBreakTheWindow()
    {
        const quint64 seed = qEnvironmentVariable("QUADRILO_MONKEY_SEED", "20261207").toULongLong();
        const int events = qEnvironmentVariable("QUADRILO_MONKEY_EVENTS", "3000").toInt();
        qInfo("monkey: seed %llu, %d events", seed, events);
        random.seed(seed);
        form = std::make_unique<Form1>(",");
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        for (int event = 0; event < events; ++event) {
            const QString before = label4(), typed[2] = {text1()->text(), text2()->text()};
            const QString clipboard = QGuiApplication::clipboard()->text();
            const int kind = below(100);
            bool clicked = false, ignored = false;
            if (kind < 45)
                ignored = pressKey(anyField());
            else if (kind < 58)
                click(kind < 52 ? option1() : option2());
            else if (kind < 72)
                click(calcolo()), clicked = true;
            else if (kind < 82)
                pasteInto(anyField(), randomText());
            else if (kind < 85) // slow: a pressed button lets go after 100 ms
                clicked = actAccessibly();
            else if (kind < 93)
                form->resize(200 + below(1200), 150 + below(750));
            else
                anyField()->clear();
            waitUntilIdle();
            QCoreApplication::processEvents();

            const QString now = label4();
            const QString where = QStringLiteral("seed %1, event %2 of kind %3, fields \"%4 | %5\": Label4 \"%6\", was \"%7\"")
                                      .arg(seed).arg(event).arg(kind).arg(typed[0].left(40), typed[1].left(40), now, before);
            QVERIFY2(!busy(), qPrintable(where));
            // A cancelled key does nothing at all: no edit, no clipboard.
            if (ignored)
                QVERIFY2(text1()->text() == typed[0] && text2()->text() == typed[1] &&
                             QGuiApplication::clipboard()->text() == clipboard,
                         qPrintable(where));
            QString failure;
            if (report()) {
                QVERIFY2(clicked, qPrintable(where));
                resultFor(failure);
                QCOMPARE(report()->text(), failure);
                click(report()->button(QMessageBox::Ok));
                QTRY_VERIFY(!report());
                ++reports;
            }
            if (kind >= 45 && kind < 58)
                QVERIFY2(now == kTwoSpaces, qPrintable(where));
            if (!now.trimmed().isEmpty() && now != before)
                QVERIFY2(now == resultFor(failure), qPrintable(where));
        }
        qInfo("monkey: %d events, %d cancelled, %d reported, all as the engine says", events, cancelled, reports);
    }
};

QTEST_MAIN(MonkeyTest)
#include "monkey_test.moc"
