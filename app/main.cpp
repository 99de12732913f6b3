#include "app/form1.h"
#include "app/startup.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    prepareApplication();
    Form1 form;
    form.show();
    return app.exec();
}
