#include "settings/fileaccess.h"

#include <QFile>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef Q_OS_LINUX
#include <sys/xattr.h>
#endif

namespace {

// Hands the open descriptor to `file`, which closes it from then on.
bool adopt(int fd, QIODevice::OpenMode mode, QFile &file)
{
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

#ifdef Q_OS_LINUX
const char AccessListName[] = "system.posix_acl_access";

bool removeAccessList(int fd)
{
    return ::fremovexattr(fd, AccessListName) == 0 || errno == ENODATA || errno == ENOTSUP;
}

// The new file inherits the folder's default access list, which may name people the old file
// never let in: it gets the old file's own list instead, or none where the old file had none.
bool copyAccessList(const QByteArray &from, int fd)
{
    const ssize_t size = ::getxattr(from.constData(), AccessListName, nullptr, 0);
    if (size < 0)
        return (errno == ENODATA || errno == ENOTSUP) && removeAccessList(fd);
    QByteArray list(size, Qt::Uninitialized);
    const ssize_t read = ::getxattr(from.constData(), AccessListName, list.data(), list.size());
    return read >= 0 && ::fsetxattr(fd, AccessListName, list.constData(), read, 0) == 0;
}
#else
bool removeAccessList(int)
{
    return true;
}

bool copyAccessList(const QByteArray &, int)
{
    return true;
}
#endif

// The mode of the open file `fd` grants nobody more than `mode`: a file system that ignores
// the mode could leave the new file open to more people.
bool grantsNoMoreThan(int fd, mode_t mode)
{
    struct stat current
    {
    };
    if (::fstat(fd, &current) != 0)
        return false;
    if ((current.st_mode & 07777 & ~mode) == 0)
        return true;
    errno = EPERM;
    return false;
}

// The old file's owner, group and mode: whoever could read the password before (a service
// through its group, say) still can. Only root can hand the file to another owner; anybody
// else saves it as their own, keeping the group where they belong to it. The bits of an owner
// or group that changed are dropped, so that nobody gains access the old file did not grant.
bool copyAccess(const QString &from, int fd)
{
    struct stat old
    {
    };
    struct stat current
    {
    };
    if (::stat(QFile::encodeName(from).constData(), &old) != 0 || ::fstat(fd, &current) != 0)
        return false;
    if (current.st_uid != old.st_uid || current.st_gid != old.st_gid) {
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            [[maybe_unused]] const int groupKept = ::fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        }
        if (::fstat(fd, &current) != 0)
            return false;
    }
    // Before the mode, which then sets the list's mask as well.
    if (!copyAccessList(QFile::encodeName(from), fd))
        return false;
    mode_t mode = old.st_mode & 07777;
    if (current.st_uid != old.st_uid)
        mode &= ~mode_t(S_ISUID);
    if (current.st_gid != old.st_gid)
        mode &= ~mode_t(S_ISGID | S_IRWXG);
    return ::fchmod(fd, mode) == 0 && grantsNoMoreThan(fd, mode);
}

bool restrictToOwner(int fd)
{
    const mode_t mode = S_IRUSR | S_IWUSR;
    return removeAccessList(fd) && ::fchmod(fd, mode) == 0 && grantsNoMoreThan(fd, mode);
}

} // namespace

namespace fileaccess {

bool openRegularFile(const QString &path, QFile &file)
{
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    return adopt(fd, QIODevice::ReadOnly, file);
}

Creation createExclusively(const QString &path, const QString &accessOf, QFile &file)
{
    const QByteArray name = QFile::encodeName(path);
    // A folder left at the name by hand or by another program goes only when it is empty.
    if (::unlink(name.constData()) != 0 && (errno == EISDIR || errno == EPERM) &&
        ::rmdir(name.constData()) != 0 && (errno == ENOTEMPTY || errno == EEXIST)) {
        errno = EISDIR;
        return Creation::Failed;
    }
    // Mode 0600 also masks out whatever a default access list of the folder grants, until the
    // file has its own rights.
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0)
        return errno == EACCES || errno == EPERM || errno == EROFS ? Creation::FolderNotWritable
                                                                   : Creation::Failed;
    const bool given = accessOf.isEmpty() ? restrictToOwner(fd) : copyAccess(accessOf, fd);
    if (given && adopt(fd, QIODevice::WriteOnly, file))
        return Creation::Created;
    const int error = errno;
    if (!given)
        ::close(fd);
    ::unlink(name.constData());
    errno = error;
    return given ? Creation::Failed : Creation::AccessNotGiven;
}

bool syncToDisk(QFile &file)
{
    return ::fsync(file.handle()) == 0;
}

bool replaceFile(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace fileaccess
