#include "settings/fileaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <windows.h>

#include <aclapi.h>
#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <string>
#include <vector>

// The status of the last failed system call, finer than its error: a file that is being deleted
// and one in a folder that may not be written both fail with ERROR_ACCESS_DENIED.
extern "C" NTSYSAPI LONG NTAPI RtlGetLastNtStatus();

namespace {

constexpr LONG StatusDeletePending = static_cast<LONG>(0xC0000056);

// The full path in the form that the wide functions take at any length (\\?\C:\... or
// \\?\UNC\server\share\...): without it they stop at 260 characters, where Qt's own file
// functions do not. That form takes the path as it stands, so it must be absolute and clean.
std::wstring nativePath(const QString &path)
{
    const QString native =
        QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    if (native.startsWith(QLatin1String("\\\\?\\")) || native.startsWith(QLatin1String("\\\\.\\")))
        return native.toStdWString();
    if (native.startsWith(QLatin1String("\\\\")))
        return (QLatin1String("\\\\?\\UNC\\") + native.mid(2)).toStdWString();
    return (QLatin1String("\\\\?\\") + native).toStdWString();
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

// The security functions return their error rather than leaving it for GetLastError.
bool succeeded(DWORD result)
{
    SetLastError(result);
    return result == ERROR_SUCCESS;
}

// The access list that a new file is to have from its first moment, handed to CreateFileW.
class Access
{
public:
    Access() = default;
    Access(const Access &) = delete; // the descriptor points into the object
    Access &operator=(const Access &) = delete;

    // The one of the old file at `from`. Where it is the one its folder hands down, only the
    // entries of its own go in: the system adds the folder's to them, as it did to the old file
    // (the new one is made beside it).
    bool copyFrom(const QString &from)
    {
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR old = nullptr;
        if (!succeeded(GetNamedSecurityInfoW(nativePath(from).c_str(), SE_FILE_OBJECT,
                                             DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                             nullptr, &old)))
            return false;
        SECURITY_DESCRIPTOR_CONTROL control = 0;
        DWORD revision = 0;
        bool copied = GetSecurityDescriptorControl(old, &control, &revision) != 0;
        // A file system without access lists reports none: then there is nothing to keep.
        if (copied && dacl) {
            const bool isProtected = control & SE_DACL_PROTECTED;
            copied = initialize(dacl->AclSize);
            for (DWORD index = 0; copied && index < dacl->AceCount; ++index) {
                void *ace = nullptr;
                copied = GetAce(dacl, index, &ace) != 0;
                const auto *header = static_cast<ACE_HEADER *>(ace);
                if (copied && (isProtected || !(header->AceFlags & INHERITED_ACE)))
                    copied = AddAce(list(), ACL_REVISION, MAXDWORD, ace, header->AceSize) != 0;
            }
            copied = copied && finish(isProtected);
        }
        LocalFree(old);
        return copied;
    }

    // One of its own that lets in the user who runs the program alone, and takes nothing from
    // its folder: a folder such as C:\Quorvo hands every local user the right to read.
    bool ownerOnly()
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
        const PSID sid = reinterpret_cast<TOKEN_USER *>(user.data())->User.Sid;
        return initialize(sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid)) &&
               AddAccessAllowedAce(list(), ACL_REVISION, FILE_ALL_ACCESS, sid) != 0 && finish(true);
    }

    // Null where the file takes what its folder hands down.
    SECURITY_ATTRIBUTES *attributes() { return acl.empty() ? nullptr : &security; }

private:
    bool initialize(DWORD size)
    {
        acl.assign(sizeof(ACL) + size, 0);
        return InitializeAcl(list(), static_cast<DWORD>(acl.size()), ACL_REVISION) != 0;
    }

    bool finish(bool isProtected)
    {
        return InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
               SetSecurityDescriptorDacl(&descriptor, TRUE, list(), FALSE) &&
               SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED,
                                            isProtected ? SE_DACL_PROTECTED : 0);
    }

    PACL list() { return reinterpret_cast<PACL>(acl.data()); }

    std::vector<BYTE> acl;
    SECURITY_DESCRIPTOR descriptor{};
    SECURITY_ATTRIBUTES security{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};
};

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

Creation createExclusively(const QString &path, const QString &accessOf, QFile &file)
{
    Access access;
    if (!(accessOf.isEmpty() ? access.ownerOnly() : access.copyFrom(accessOf)))
        return Creation::AccessNotGiven;

    const std::wstring name = nativePath(path);
    DeleteFileW(name.c_str());
    RemoveDirectoryW(name.c_str()); // only an empty folder goes
    // CREATE_NEW fails on any name that exists, a link included, and never follows it. Qt's
    // permission flags are an emulation on Windows that would grant access to everyone; the file
    // is made with its access list instead, and nobody may open it beside us while it is written.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE, 0, access.attributes(),
                                      CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // A file that another program holds open keeps its name after it has been deleted, until
        // that program lets go of it: the folder may well be written.
        if (RtlGetLastNtStatus() == StatusDeletePending) {
            SetLastError(ERROR_DELETE_PENDING);
            return Creation::Failed;
        }
        return GetLastError() == ERROR_ACCESS_DENIED ? Creation::FolderNotWritable
                                                     : Creation::Failed;
    }
    if (adopt(handle, _O_WRONLY, QIODevice::WriteOnly, file))
        return Creation::Created;
    DeleteFileW(name.c_str());
    return Creation::Failed;
}

bool syncToDisk(QFile &file)
{
    return _commit(file.handle()) == 0;
}

bool replaceFile(const QString &from, const QString &to)
{
    return MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace fileaccess
