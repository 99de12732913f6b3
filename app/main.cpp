#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Qt's messages while it looks for a display. Without one it writes English
// advice to reinstall and aborts; the user is told in Italian instead, and
// the program ends with status 1. Otherwise the messages go out as usual.
std::vector<std::pair<QtMsgType, QString>> startupMessages;

void duringStartup(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtFatalMsg) {
        startupMessages.emplace_back(type, text);
        return;
    }
    std::fputs("Quadrilo: nessuno schermo disponibile. Quadrilo è un programma a finestre e va "
               "avviato da una sessione grafica.\n",
               stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char* argv[])
{
    const QtMessageHandler usual = qInstallMessageHandler(duringStartup);
    QApplication app(argc, argv);
    qInstallMessageHandler(usual);
    for (const auto& [type, text] : startupMessages)
        qt_message_output(type, QMessageLogContext(), text);
    startupMessages.clear();

    prepareApplication();
    Form1 form;
    form.show();
    return app.exec();
}
