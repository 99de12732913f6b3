// The floor of any window with text in it: the bare window with one word
// in the system's face. Drawing a word means starting fontconfig, reading
// its caches and loading a face; the bare window does none of that.
#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLabel window(QStringLiteral("Integrale"));
    window.resize(996, 609);
    window.show();
    return app.exec();
}
