#include "settings/fileaccess.h"

#include <QFile>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

namespace fileaccess {

bool openPrivately(QFile &file, QIODevice::OpenMode mode)
{
    return file.open(mode, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

bool syncToDisk(QFile &file)
{
    return ::fsync(file.handle()) == 0;
}

// The old file's owner, group and mode: whoever could read the password before (a service
// through its group, say) still can, and nobody else. A save that cannot keep them fails.
bool copyAccess(const QString &from, QFile &to)
{
    struct stat old
    {
    };
    struct stat current
    {
    };
    const int fd = to.handle();
    if (::stat(QFile::encodeName(from).constData(), &old) != 0 || ::fstat(fd, &current) != 0)
        return false;
    if ((current.st_uid != old.st_uid || current.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    return ::fchmod(fd, old.st_mode & 07777) == 0;
}

bool replaceFile(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace fileaccess
