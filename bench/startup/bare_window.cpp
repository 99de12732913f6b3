// The yardstick of start-up: a Qt program that shows one empty window of
// Quadrilo's size, and nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(996, 609);
    window.show();
    return app.exec();
}
