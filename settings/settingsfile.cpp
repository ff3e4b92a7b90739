#include "settings/settingsfile.h"

#include "settings/connectionsettings.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <cstdio>
#include <utility>

#ifdef Q_OS_WIN
#include <windows.h>

#include <aclapi.h>

#include <string>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString HostKey = QStringLiteral("hname");
const QString UserKey = QStringLiteral("MySQLu");
const QString PasswordKey = QStringLiteral("MySQLp");

// A line is cut at every ':'; the first field is the key, compared exactly.
QStringList fieldsOf(const QString &line)
{
    return line.split(QLatin1Char(':'), Qt::KeepEmptyParts, Qt::CaseSensitive);
}

// The file declares no encoding: it is read and written in the system encoding, as it always
// has been, so files written by earlier versions keep their meaning.
void useSystemEncoding(QTextStream &stream)
{
    stream.setEncoding(QStringConverter::System);
}

// Forces the written content onto the disk, so that the replace below never puts a file in
// place whose data a power cut could still lose.
bool syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    // QFile hands out no native handle on Windows; flushing through a handle of our own
    // flushes the file's cached data all the same.
    const QString path = QDir::toNativeSeparators(file.fileName());
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()),
                                      GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

#ifdef Q_OS_WIN
std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// The old file's access list, whether it is the one its folder hands down or one of its own,
// so that neither a reused leftover's list nor the folder's replaces it.
bool copyAccess(const QString &from, QFile &to)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(nativePath(from).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    bool copied = GetSecurityDescriptorControl(descriptor, &control, &revision) != 0;
    // A file system without access lists reports none: then there is nothing to keep.
    if (copied && dacl) {
        const SECURITY_INFORMATION inheritance = (control & SE_DACL_PROTECTED)
                                                     ? PROTECTED_DACL_SECURITY_INFORMATION
                                                     : UNPROTECTED_DACL_SECURITY_INFORMATION;
        std::wstring target = nativePath(to.fileName());
        copied = SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                                       dacl, nullptr) == ERROR_SUCCESS;
    }
    LocalFree(descriptor);
    return copied;
}
#else
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
#endif

// Puts `from` in the place of `to` in one step: at every moment `to` holds either its old or
// its new content. (QFile::rename refuses an existing target.)
bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString source = QDir::toNativeSeparators(from);
    const QString target = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(source.utf16()),
                       reinterpret_cast<const wchar_t *>(target.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

} // namespace

bool loadSettingsFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;

    QTextStream in(&file);
    useSystemEncoding(in);
    while (!in.atEnd()) {
        const QStringList fields = fieldsOf(in.readLine());
        const QString &key = fields.first();
        // A host or user line without ':' has no value and leaves the setting as it was.
        if (key == HostKey) {
            if (fields.size() > 1)
                ConnectionSettings::dbHost = fields.at(1);
        } else if (key == UserKey) {
            if (fields.size() > 1)
                ConnectionSettings::dbUser = fields.at(1);
        } else if (key == PasswordKey) {
            // A password line with other than exactly one ':' reads as the empty password.
            ConnectionSettings::dbPassword = fields.size() == 2 ? fields.at(1) : QString();
        }
    }
    return true;
}

RewriteFailure rewriteSettingsFile(const QString &fileName, const QString &host,
                                   const QString &user, const QString &password)
{
    QFile oldFile(fileName);
    if (!oldFile.open(QIODevice::ReadOnly | QIODevice::Text))
        return RewriteFailure::OpenFailed;

    // All of the old file first: a read that fails part-way must not pass for its end, and a
    // missing key line is found before anything is written.
    QStringList lines;
    QTextStream in(&oldFile);
    useSystemEncoding(in);
    while (!in.atEnd())
        lines << in.readLine();
    if (in.status() != QTextStream::Ok || oldFile.error() != QFileDevice::NoError)
        return RewriteFailure::OpenFailed;
    oldFile.close();

    bool hostLine = false, userLine = false, passwordLine = false;
    for (QString &line : lines) {
        const QString key = fieldsOf(line).first();
        if (key == HostKey) {
            line = HostKey + QLatin1Char(':') + host;
            hostLine = true;
        } else if (key == UserKey) {
            line = UserKey + QLatin1Char(':') + user;
            userLine = true;
        } else if (key == PasswordKey) {
            line = PasswordKey + QLatin1Char(':') + password;
            passwordLine = true;
        }
    }
    if (!hostLine || !userLine || !passwordLine)
        return RewriteFailure::KeyLineMissing;

    QFile newFile(fileName + QStringLiteral(".tmp"));
    // The file holds the database password: the new one gets the old one's access rights before
    // it holds anything, both when it is created and when a leftover of that name is reused.
#ifdef Q_OS_WIN
    // Qt's permission flags are an emulation on Windows that would grant access to everyone.
    const bool opened = newFile.open(QIODevice::WriteOnly | QIODevice::Text);
#else
    const bool opened = newFile.open(QIODevice::WriteOnly | QIODevice::Text,
                                     QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
    if (!opened)
        return RewriteFailure::OpenFailed;
    bool written = copyAccess(fileName, newFile);

    QTextStream out(&newFile);
    useSystemEncoding(out);
    for (const QString &line : std::as_const(lines)) {
        if (!written)
            break;
        out << line << Qt::endl;
        written = out.status() == QTextStream::Ok;
    }
    written = written && newFile.flush() && syncToDisk(newFile);
    newFile.close();
    written = written && newFile.error() == QFileDevice::NoError;
    if (!written) {
        newFile.remove();
        return RewriteFailure::WriteFailed;
    }

    if (!replaceFile(newFile.fileName(), oldFile.fileName()))
        return RewriteFailure::RenameFailed;
    return RewriteFailure::None;
}
