#pragma once

#include <windows.h>

#include <string>

#include "enterprise/core/addons/addon.h"

namespace MsExchange {

// Reports Exchange when, below one of the Exchange registry roots (64-bit view only), the file
// version of ese.dll under the recorded install path and the recorded mailbox role version
// share their major number.
class NativeDetectionAddon
    : public Core::AddOnImplBase<MachineManagement::MachineAppDetectionAddon, Core::Detail::EmptyBase> {
public:
    NativeDetectionAddon();

    std::string GetName() const override;
    uint32_t GetVersion() const override;
    MachineManagement::InstalledApplications GetMachineInstalledApplications() override;

    // The architecture gate followed by the registry probe.
    bool IsExchangeInstalled();
    // Probes the roots in order and stops at the first whose two versions agree.
    bool CheckExchangeInRegistry();
    // The file version of ese.dll below the install path recorded in `setupKeyPath`.
    bool GetExchangeVersionFromSetupKey(const std::wstring& setupKeyPath, std::wstring& version);
    // The version recorded in `mailboxRoleKeyPath` (at most 64 UTF-16 units).
    bool GetMailboxRoleVersion(const std::wstring& mailboxRoleKeyPath, std::wstring& version);

    // The fixed file version of a file's version resource as "a.b.c.d". On failure the
    // thread's last error is left as the failing call set it.
    static bool GetFileVersionString(const std::wstring& filePath, std::wstring& version);
    // A REG_SZ value of any length up to its first NUL; empty when it is absent, empty, of
    // another type or unreadable.
    static void ReadStringValue(HKEY key, const wchar_t* valueName, std::wstring& text);
};

}  // namespace MsExchange
