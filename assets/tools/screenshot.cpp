// Saves a picture of the window, as a person sees it after a first-kind
// calculation under Italian settings, for the README.
// Usage: screenshot FILE.png
#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    prepareApplication();
    Form1 form(",");
    form.show();
    form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("1.5707963"));
    form.findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(QStringLiteral("30"));
    form.findChild<QRadioButton*>(QStringLiteral("Option1"))->click();
    form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    // The evaluation runs on the engine's threads: the picture waits for
    // its result.
    const auto* result = form.findChild<QLabel*>(QStringLiteral("Label4"));
    const QDeadlineTimer patience(60000);
    while (result->text().trimmed().isEmpty() && !patience.hasExpired())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    if (result->text().trimmed().isEmpty()) {
        std::fputs("screenshot: nessun risultato entro un minuto\n", stderr);
        return 1;
    }
    return form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
