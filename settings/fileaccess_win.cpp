#include "settings/fileaccess.h"

#include <QDir>
#include <QFile>

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::wstring nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// Hands the open handle to `file` as a C runtime descriptor, which `file` closes from then on.
bool adopt(HANDLE handle, int flags, QIODevice::OpenMode mode, QFile &file)
{
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), flags | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return false;
    }
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    _close(fd);
    return false;
}

} // namespace

namespace fileaccess {

bool openRegularFile(const QString &path, QFile &file)
{
    // A folder cannot be opened this way; a pipe or a device could keep a read waiting.
    const HANDLE handle = CreateFileW(nativePath(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return false;
    }
    return adopt(handle, _O_RDONLY, QIODevice::ReadOnly, file);
}

Creation createExclusively(const QString &path, QFile &file)
{
    const std::wstring name = nativePath(path);
    DeleteFileW(name.c_str());
    RemoveDirectoryW(name.c_str()); // only an empty folder goes
    // CREATE_NEW fails on any name that exists, a link included, and never follows it. Qt's
    // permission flags are an emulation on Windows that would grant access to everyone, so the
    // file starts with its folder's access list until copyAccess or restrictToOwner, which
    // sets one through this handle (WRITE_DAC).
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | WRITE_DAC, FILE_SHARE_READ,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_ACCESS_DENIED ? Creation::FolderNotWritable
                                                     : Creation::Failed;
    if (adopt(handle, _O_WRONLY, QIODevice::WriteOnly, file))
        return Creation::Created;
    DeleteFileW(name.c_str());
    return Creation::Failed;
}

bool syncToDisk(QFile &file)
{
    return _commit(file.handle()) == 0;
}

// The old file's access list, whether it is the one its folder hands down or one of its own,
// so that the folder's list, which the new file starts with, does not replace it.
bool copyAccess(const QString &from, const QString &to, QFile &)
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
        std::wstring target = nativePath(to);
        copied = SetNamedSecurityInfoW(target.data(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | inheritance, nullptr, nullptr,
                                       dacl, nullptr) == ERROR_SUCCESS;
    }
    LocalFree(descriptor);
    return copied;
}

// A file made anew gets an access list of its own that lets in the user who runs the program
// alone, and takes nothing from its folder: a folder such as C:\Quorvo hands every local user
// the right to read, and the file holds the database password.
bool restrictToOwner(QFile &file)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size);
    const bool known =
        size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) != 0;
    CloseHandle(token);
    if (!known)
        return false;

    EXPLICIT_ACCESS_W access{};
    access.grfAccessPermissions = GENERIC_ALL;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_USER;
    access.Trustee.ptstrName =
        static_cast<LPWSTR>(reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid);
    PACL acl = nullptr;
    DWORD result = SetEntriesInAclW(1, &access, nullptr, &acl);
    if (result == ERROR_SUCCESS) {
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
        result = SetSecurityInfo(handle, SE_FILE_OBJECT,
                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                 nullptr, nullptr, acl, nullptr);
        LocalFree(acl);
    }
    // A drive without access lists (FAT, some network shares) has nothing to restrict, as
    // copyAccess finds.
    if (result == ERROR_NOT_SUPPORTED || result == ERROR_INVALID_FUNCTION)
        return true;
    SetLastError(result); // for the message
    return result == ERROR_SUCCESS;
}

bool replaceFile(const QString &from, const QString &to)
{
    return MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace fileaccess
