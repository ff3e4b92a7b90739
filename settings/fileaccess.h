#pragma once

#include <QString>

class QFile;

// The file-system plumbing under the settings file, one implementation per platform
// (fileaccess_unix.cpp, fileaccess_win.cpp), so that the format code above stays portable.
// A function that fails leaves the system's error (errno, or GetLastError on Windows) of the
// step that failed, for qt_error_string().
namespace fileaccess {

// Opens `file` (which then has no name) for reading when `path` leads to a regular file,
// through links. Anything else, a FIFO, a device or a folder, is refused at once, never waited on.
bool openRegularFile(const QString &path, QFile &file);

enum class Creation { Created, FolderNotWritable, Failed };

// Creates the file at `path` anew and opens it for writing as `file` (which then has no name);
// on POSIX only its owner may read it until copyAccess. It is never opened through a link: whatever
// is left at that name is removed first (a link itself, not what it leads to; an empty folder
// too, while any other folder stays and makes the creation fail), and the creation fails if
// anything appears there meanwhile.
Creation createExclusively(const QString &path, QFile &file);

// Forces the content written to `file` onto the disk, so that a replace never puts a file in
// place whose data a power cut could still lose.
bool syncToDisk(QFile &file);

// Gives the file at `to`, open as `file`, the access rights of the file at `from`, never more.
// False when not even that could be done.
bool copyAccess(const QString &from, const QString &to, QFile &file);

// Leaves the new file, open as `file`, to its owner alone, whatever its folder hands down.
// False when that could not be done.
bool restrictToOwner(QFile &file);

// Puts the file at `from` in the place of `to` in one step: at every moment `to` holds either
// its old or its new content. (QFile::rename refuses an existing target.)
bool replaceFile(const QString &from, const QString &to);

} // namespace fileaccess
