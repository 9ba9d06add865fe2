#pragma once

// Makes a directory junction (a mount-point reparse point) the way the system's tools do:
// an empty directory whose reparse data names the target.

#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>

#include "core/common/handles.h"

namespace TestSupport {

// False when the file system refuses (the directory is then left empty).
inline bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    if (!::CreateDirectoryW(link.c_str(), nullptr)) {
        return false;
    }
    Common::UniqueFileHandle directory(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                     nullptr));
    if (!directory) {
        return false;
    }
    // The mount-point layout of REPARSE_DATA_BUFFER, which the SDK keeps in a driver header.
    struct MountPoint {
        DWORD tag;
        WORD dataLength;
        WORD reserved;
        WORD substituteOffset;
        WORD substituteLength;
        WORD printOffset;
        WORD printLength;
        wchar_t names[1024];
    } data{};
    const std::wstring substitute = L"\\??\\" + target;
    const size_t substituteBytes = substitute.size() * sizeof(wchar_t);
    const size_t printBytes = target.size() * sizeof(wchar_t);
    if (substitute.size() + target.size() + 2 > sizeof data.names / sizeof(wchar_t)) {
        return false;
    }
    data.tag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteOffset = 0;
    data.substituteLength = static_cast<WORD>(substituteBytes);
    data.printOffset = static_cast<WORD>(substituteBytes + sizeof(wchar_t));
    data.printLength = static_cast<WORD>(printBytes);
    std::memcpy(data.names, substitute.c_str(), substituteBytes);
    std::memcpy(data.names + substitute.size() + 1, target.c_str(), printBytes);
    data.dataLength = static_cast<WORD>(8 + substituteBytes + printBytes + 2 * sizeof(wchar_t));
    DWORD returned = 0;
    return ::DeviceIoControl(directory.get(), FSCTL_SET_REPARSE_POINT, &data, 8 + data.dataLength, nullptr, 0,
                             &returned, nullptr) != 0;
}

}  // namespace TestSupport
