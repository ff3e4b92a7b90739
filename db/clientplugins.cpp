#include "db/clientplugins.h"

#include <QDir>
#include <QFileInfo>

void useClientPlugins(const QString &folder)
{
    if (!qEnvironmentVariableIsEmpty("MARIADB_PLUGIN_DIR") || !QFileInfo(folder).isDir())
        return;
    qputenv("MARIADB_PLUGIN_DIR", QDir::toNativeSeparators(folder).toLocal8Bit());
    clientplugins::keepLoaded(folder);
}
