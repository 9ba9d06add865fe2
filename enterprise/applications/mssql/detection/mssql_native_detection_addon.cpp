#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"

#include <windows.h>

#include <vector>

#include "core/common/handles.h"
#include "core/common/utf.h"
#include "enterprise/core/addons/app_ids.h"
#include "logging/log.h"

namespace MsSql {

namespace {

constexpr char kTraceSourceFile[] = "enterprise/applications/mssql/detection/mssql_native_detection_addon";

const std::wstring kInstanceNamesKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

}  // namespace

NativeDetectionAddon::NativeDetectionAddon() {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Microsoft SQL Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    static constexpr char kFunction[] = "MsSql::NativeDetectionAddon::GetMachineInstalledApplications";
    MachineManagement::InstalledApplications applications;
    // Both views are always probed so that both are logged.
    const bool found64 = CheckMsSqlInRegistry(true);
    const bool found32 = CheckMsSqlInRegistry(false);
    if (found64 || found32) {
        applications.emplace(Core::SqlServerAppId, std::wstring());
        LOG_TRACE(Logging::INFORMATION, kFunction, "[MSSQL Native] Microsoft SQL Server detected");
    } else {
        LOG_TRACE(Logging::INFORMATION, kFunction, "[MSSQL Native] Microsoft SQL Server not detected");
    }
    return applications;
}

bool NativeDetectionAddon::CheckMsSqlInRegistry(bool view64) {
    static constexpr char kFunction[] = "MsSql::NativeDetectionAddon::CheckMsSqlInRegistry";
    const char* view = view64 ? "64-bit" : "32-bit";
    const REGSAM access = KEY_READ | (view64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);

    Common::UniqueHkey key;
    const LONG openResult = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstanceNamesKey.c_str(), 0, access, key.put());
    if (openResult != ERROR_SUCCESS) {
        key.release();  // a failed open leaves no handle to close
        LOG_TRACE(Logging::WARNING, kFunction, "[MSSQL Native] Failed to open registry key: %s (%s view, error=%d)",
                  Common::Utf16ToUtf8(kInstanceNamesKey).c_str(), view, static_cast<int>(openResult));
        return false;
    }

    DWORD valueCount = 0;
    DWORD maxValueNameLength = 0;
    const LONG infoResult = ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                               &valueCount, &maxValueNameLength, nullptr, nullptr, nullptr);
    if (infoResult != ERROR_SUCCESS) {
        LOG_TRACE(Logging::WARNING, kFunction, "[MSSQL Native] Failed to query registry key info (%s view, error=%d)",
                  view, static_cast<int>(infoResult));
        return false;
    }
    if (valueCount == 0) {
        LOG_TRACE(Logging::DEBUG_TRACE, kFunction, "[MSSQL Native] No values found in registry key (%s view)", view);
        return false;
    }
    if (maxValueNameLength == 0) {
        LOG_TRACE(Logging::WARNING, kFunction, "[MSSQL Native] Invalid max value name length (%s view)", view);
        return false;
    }

    std::vector<wchar_t> name(static_cast<size_t>(maxValueNameLength) + 1, L'\0');
    for (DWORD index = 0; index < valueCount; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD type = 0;
        const LONG enumResult =
            ::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, nullptr, nullptr);
        if (enumResult == ERROR_SUCCESS && type == REG_SZ) {
            return true;
        }
    }
    LOG_TRACE(Logging::DEBUG_TRACE, kFunction, "[MSSQL Native] No REG_SZ values found in registry key (%s view)", view);
    return false;
}

}  // namespace MsSql
