#include "app/setup.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    setup dialog;
    dialog.show();
    return app.exec();
}
