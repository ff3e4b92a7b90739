#include "settings/fileaccess.h"

#include <QDir>
#include <QFile>

#include <windows.h>

#include <aclapi.h>

#include <string>

namespace {

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

} // namespace

namespace fileaccess {

bool openPrivately(QFile &file, QIODevice::OpenMode mode)
{
    // Qt's permission flags are an emulation on Windows that would grant access to everyone;
    // copyAccess sets the access list instead.
    return file.open(mode);
}

bool syncToDisk(QFile &file)
{
    // QFile hands out no native handle on Windows; flushing through a handle of our own
    // flushes the file's cached data all the same.
    const HANDLE handle = CreateFileW(nativePath(file.fileName()).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(handle) != 0;
    CloseHandle(handle);
    return flushed;
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

bool replaceFile(const QString &from, const QString &to)
{
    return MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace fileaccess
