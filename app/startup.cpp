#include "app/startup.h"

#include <QApplication>
#include <QIcon>
#include <QTranslator>

void prepareApplication()
{
    // The window is Italian whatever the desktop's language, and so are the
    // fields' context menu and the buttons of the reports.
    auto* qtTexts = new QTranslator(qApp);
    if (qtTexts->load(QStringLiteral(":/i18n/qtbase_it.qm")))
        QApplication::installTranslator(qtTexts);

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quadrilo.ico")));
    QApplication::setApplicationName(QStringLiteral("Quadrilo"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
}
