// The window, offscreen, under whatever limit on threads it is started with
// (check_click_under_limit.sh: three for its user): a click on Calcolo must
// compute. Exits 0 when the result shows, 1 otherwise, saying what it saw.
#include "app/form1.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Form1 form(",", {});
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        return 1;
    auto* limit = form.findChild<QLineEdit*>(QStringLiteral("Text1"));
    auto* argument = form.findChild<QLineEdit*>(QStringLiteral("Text2"));
    limit->setFocus();
    QTest::keyClicks(limit, QStringLiteral("0.5"));
    argument->setFocus();
    QTest::keyClicks(argument, QStringLiteral("60"));
    QTest::mouseClick(form.findChild<QRadioButton*>(QStringLiteral("Option1")), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    auto* result = form.findChild<QLabel*>(QStringLiteral("Label4"));
    if (QTest::qWaitFor([&] { return result->text() == QStringLiteral("0,51617"); }, 20000))
        return 0;
    const auto* report = form.findChild<QMessageBox*>(QStringLiteral("report"));
    std::fprintf(stderr, "Label4 shows \"%s\"; report: %s\n", qPrintable(result->text()),
                 report ? qPrintable(report->text()) : "none");
    return 1;
}
