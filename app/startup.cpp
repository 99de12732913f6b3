#include "app/startup.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>

void prepareApplication()
{
    // The window is Italian whatever the desktop's language, and so are the
    // fields' context menu and the buttons of the reports: Qt's own Italian
    // texts, where the system keeps them.
    auto* qtTexts = new QTranslator(qApp);
    if (qtTexts->load(QStringLiteral("qtbase_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTexts);

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/quadrilo.ico")));
    QApplication::setApplicationName(QStringLiteral("Quadrilo"));
    QApplication::setApplicationVersion(QStringLiteral("1.00"));
}
