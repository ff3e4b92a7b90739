#include "app/failurealert.h"
#include "app/setup.h"
#include "db/clientplugins.h"

#include <QApplication>
#include <QDir>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installScreenReaderSupport();
    // The Windows package has the client library's login plugins beside the program.
    useClientPlugins(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("plugin")));
    setup dialog;
    dialog.show();
    return app.exec();
}
