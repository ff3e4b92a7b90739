// Not a test: the setup window's form with nothing behind it (no settings file read, no run's
// thread), which scripts/bench.sh starts beside quorvo-setup to time the program's own start.
#include "ui_setup.h"

#include <QApplication>
#include <QDialog>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QDialog dialog;
    Ui::setup form;
    form.setupUi(&dialog);
    form.lineEdit_username->setFocus();
    dialog.show();
    return app.exec();
}
