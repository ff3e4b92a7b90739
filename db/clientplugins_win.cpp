#include "db/clientplugins.h"

#include <QDir>

#include <windows.h>

// Loaded once more than the client library loads them, and never freed: the library's own
// FreeLibrary then leaves them in place.
void clientplugins::keepLoaded(const QString &folder)
{
    const QDir dir(folder);
    for (const QString &name : dir.entryList({QStringLiteral("*.dll")}, QDir::Files))
        LoadLibraryW(QDir::toNativeSeparators(dir.filePath(name)).toStdWString().c_str());
}
