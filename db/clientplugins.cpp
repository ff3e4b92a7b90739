#include "db/clientplugins.h"

#include <QFileInfo>

void useClientPlugins(const QString &folder)
{
    if (!qEnvironmentVariableIsEmpty("MARIADB_PLUGIN_DIR") || !QFileInfo(folder).isDir())
        return;
    clientplugins::load(folder);
}
