// Saves a picture of the window, as a person sees it after a first-kind
// calculation, for the README. Usage: screenshot FILE.png
#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2)
        return 2;
    prepareApplication();
    Form1 form(QLocale(QLocale::Italian, QLocale::Italy));
    form.show();
    form.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("1.5707963"));
    form.findChild<QLineEdit*>(QStringLiteral("Text2"))->setText(QStringLiteral("30"));
    form.findChild<QRadioButton*>(QStringLiteral("Option1"))->click();
    form.findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    QApplication::processEvents();
    return form.grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
