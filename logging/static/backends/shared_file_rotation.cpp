#include "logging/static/backends/shared_file_rotation.h"

#include <windows.h>
// The runtime's descriptor interface.
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/common/handles.h"
#include "logging/static/manager_internal.h"

namespace Logging {

namespace {

constexpr uint32_t kNoLimit = 0xFFFFFFFF;

FileIdentity IdentityOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileIdentity identity;
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.known = true;
    return identity;
}

// The errno value of a Win32 error, for the messages that report errno.
int ErrnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND: return ENOENT;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION: return EACCES;
        default: return EINVAL;
    }
}

// Renames the file that `handle` (opened with DELETE access) refers to into `path`, replacing a
// file of that name.
bool RenameHeldFile(HANDLE handle, const std::string& path) {
    const UINT codePage = ::AreFileApisANSI() ? CP_ACP : CP_OEMCP;
    const int units = ::MultiByteToWideChar(codePage, 0, path.c_str(), -1, nullptr, 0);
    if (units <= 0) {
        return false;
    }
    std::wstring wide(static_cast<size_t>(units), L'\0');
    ::MultiByteToWideChar(codePage, 0, path.c_str(), -1, &wide[0], units);
    // The rename takes a relative name against the current directory, not the file's.
    const DWORD length = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return false;
    }
    std::wstring full(length, L'\0');
    full.resize(::GetFullPathNameW(wide.c_str(), length, &full[0], nullptr));
    // FileName[1] leaves room for the terminating NUL; the words keep the record aligned.
    const size_t size = sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t);
    std::vector<uint64_t> buffer((size + sizeof(uint64_t) - 1) / sizeof(uint64_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, full.data(), full.size() * sizeof(wchar_t));
    return ::SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(size)) != FALSE;
}

}  // namespace

FileIdentity IdentityOfDescriptor(int fd) {
    const intptr_t handle = _get_osfhandle(fd);
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE) ||
        !::GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) {
        return {};
    }
    return IdentityOf(info);
}

// Other processes write and rotate at the same time, and several of them can find the file
// due at once. Renaming by path after the check would let a second rotation move a fresh file,
// with the records written since the first, over the ".bak" that the first one made. So the
// file is opened with DELETE access and no sharing but reading, which waits for the writers
// and shuts out writers and other rotations; the reason to rotate is checked again on that
// handle (still over size, or still the very file found written on an earlier day); and the
// file is renamed through the handle. Rotations are then strictly one after another, each
// moves exactly the file it judged, and ".bak" followed by the current file always holds an
// unbroken, duplicate-free run of the latest records.
void RotateSharedFile(const std::string& path, const std::string& backup, uint32_t maxSize,
                      const FileIdentity& staleDay, uint32_t timeoutMs) {
    const DWORD start = ::GetTickCount();
    Common::UniqueFileHandle held;
    for (;;) {
        held.reset(::CreateFileA(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (held) {
            break;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return;  // another process rotated it, and no record has been written since
        }
        const DWORD now = ::GetTickCount();
        if (error != ERROR_SHARING_VIOLATION || now < start || now - start >= timeoutMs) {
            ReportBackendError("SharedFileBackend: unable to rename %s to %s. error %i", path.c_str(), backup.c_str(),
                               ErrnoOf(error));
            return;  // the file stays as it is; the next record tries again
        }
        ::Sleep(1);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(held.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return;  // a link holds no records: the next open replaces it by a file
    }
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    const bool overSize = maxSize != kNoLimit && size > maxSize;
    if (!overSize && !(staleDay == IdentityOf(info))) {
        return;
    }
    if (std::remove(backup.c_str()) != 0 && errno != ENOENT) {
        ReportBackendError("SharedFileBackend: unable to remove %s. error %i", backup.c_str(), errno);
    }
    // The current path is never removed afterwards: once the rename has succeeded, a file under
    // that name was made by another process and holds its records; when the rename failed, the
    // file still holds this generation, and the next record's rotation moves it.
    if (!RenameHeldFile(held.get(), backup)) {
        ReportBackendError("SharedFileBackend: unable to rename %s to %s. error %i", path.c_str(), backup.c_str(),
                           ErrnoOf(::GetLastError()));
    }
}

}  // namespace Logging
