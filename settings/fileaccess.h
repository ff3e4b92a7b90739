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

enum class Creation { Created, FolderNotWritable, AccessNotGiven, Failed };

// Creates the file at `path` anew and opens it for writing as `file` (which then has no name).
// It holds the database password, so nobody but those who may read the file at `accessOf` may
// ever open it: it gets that file's access rights, never more, or, where `accessOf` is empty,
// its owner's alone, whatever its folder hands down. They are in place before anybody else could
// open it (on Windows it is created with them, and shared with nobody while it is open).
// AccessNotGiven when they cannot be given; the file is then removed again. It is never opened
// through a link: whatever is left at that name is removed first (a link itself, not what it
// leads to; an empty folder too, while any other folder stays and makes the creation fail), and
// the creation fails if anything appears there meanwhile.
Creation createExclusively(const QString &path, const QString &accessOf, QFile &file);

// Forces the content written to `file` onto the disk, so that a replace never puts a file in
// place whose data a power cut could still lose.
bool syncToDisk(QFile &file);

// Puts the file at `from` in the place of `to` in one step: at every moment `to` holds either
// its old or its new content. (QFile::rename refuses an existing target.)
bool replaceFile(const QString &from, const QString &to);

} // namespace fileaccess
