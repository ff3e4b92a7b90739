#pragma once

#include <QIODevice>
#include <QString>

class QFile;

// The file-system plumbing under the settings file, one implementation per platform
// (fileaccess_unix.cpp, fileaccess_win.cpp), so that the format code above stays portable.
namespace fileaccess {

// Opens `file` for writing such that nobody but its owner may read it, until copyAccess says
// otherwise.
bool openPrivately(QFile &file, QIODevice::OpenMode mode);

// Forces the content written to `file` onto the disk, so that a replace never puts a file in
// place whose data a power cut could still lose.
bool syncToDisk(QFile &file);

// Gives `to` the access rights of the file at `from`.
bool copyAccess(const QString &from, QFile &to);

// Puts the file at `from` in the place of `to` in one step: at every moment `to` holds either
// its old or its new content. (QFile::rename refuses an existing target.)
bool replaceFile(const QString &from, const QString &to);

} // namespace fileaccess
