#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"

#include <cstring>
#include <cwchar>
#include <vector>

#include "core/common/handles.h"
#include "core/common/utf.h"
#include "enterprise/applications/msexchange/detection/exchange_detection_logic.h"
#include "enterprise/core/addons/app_ids.h"
#include "logging/log.h"

namespace MsExchange {

namespace {

constexpr char kTraceSourceFile[] = "enterprise/applications/msexchange/detection/exchange_native_detection_addon";

// One root per generation of Exchange, oldest layout first.
constexpr const wchar_t* kRegistryRoots[] = {
    L"SOFTWARE\\Microsoft\\Exchange",
    L"SOFTWARE\\Microsoft\\Exchange\\v8.0",
    L"SOFTWARE\\Microsoft\\ExchangeServer\\v14",
    L"SOFTWARE\\Microsoft\\ExchangeServer\\v15",
};

// Exchange is 64-bit only, so its keys are read in the 64-bit view even from a WOW64 process.
constexpr REGSAM kKeyAccess = KEY_READ | KEY_WOW64_64KEY;

constexpr DWORD kMaxVersionResourceSize = 65536;
static_assert(sizeof(VS_FIXEDFILEINFO) == kFixedFileInfoSize);
constexpr size_t kMailboxVersionUnits = 64;

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

bool RunsUnderWow64() {
    const HMODULE kernel32 = ::GetModuleHandleA("kernel32");
    if (kernel32 == nullptr) {
        return false;
    }
    // Looked up at run time: older systems do not export it, and then there is no WOW64.
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel32, "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64Process != nullptr) {
        isWow64Process(::GetCurrentProcess(), &wow64);
    }
    return wow64 != FALSE;
}

// Opens a key below HKEY_LOCAL_MACHINE; returns the registry's result code.
LONG OpenKey(const std::wstring& path, Common::UniqueHkey& key) {
    const LONG result = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, kKeyAccess, key.put());
    if (result != ERROR_SUCCESS) {
        key.release();  // a failed open leaves no handle to close
    }
    return result;
}

// Reads a REG_SZ value of at most 128 bytes into a fixed buffer; true when it holds text.
bool ReadMailboxVersionValue(HKEY key, const wchar_t* valueName, std::wstring& text) {
    wchar_t buffer[kMailboxVersionUnits] = {};
    DWORD size = sizeof buffer;
    DWORD type = REG_SZ;
    const LONG result = ::RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    if (result != ERROR_SUCCESS || type != REG_SZ || buffer[0] == L'\0') {
        return false;
    }
    // Data that fills the buffer carries no terminator of its own.
    text.assign(buffer, ::wcsnlen(buffer, kMailboxVersionUnits));
    return true;
}

// The fixed file version of a file; on failure `error` is the last error the failing step left.
bool ReadFixedFileVersion(const std::wstring& filePath, uint32_t& fileVersionMS, uint32_t& fileVersionLS,
                          DWORD& error) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(filePath.c_str(), &ignored);
    if (size == 0 || size > kMaxVersionResourceSize) {
        error = ::GetLastError();
        return false;
    }
    std::vector<BYTE> resource(size, 0);
    if (!::GetFileVersionInfoW(filePath.c_str(), 0, size, resource.data())) {
        error = ::GetLastError();
        return false;
    }
    void* block = nullptr;
    UINT blockSize = 0;
    if (!::VerQueryValueW(resource.data(), L"\\", &block, &blockSize) || block == nullptr) {
        error = ::GetLastError();
        return false;
    }
    // The query trusts the resource's own lengths; the first field of its root block is its length.
    const uintptr_t start = reinterpret_cast<uintptr_t>(resource.data());
    const uintptr_t at = reinterpret_cast<uintptr_t>(block);
    uint16_t declaredLength = 0;
    std::memcpy(&declaredLength, resource.data(), size < sizeof declaredLength ? 0 : sizeof declaredLength);
    if (at < start || !IsFixedFileInfoInside(at - start, blockSize, size, declaredLength)) {
        error = ERROR_INVALID_DATA;
        return false;
    }
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(block);
    fileVersionMS = fixed->dwFileVersionMS;
    fileVersionLS = fixed->dwFileVersionLS;
    return true;
}

}  // namespace

NativeDetectionAddon::NativeDetectionAddon() : AddOnImplBase("UnnamedAddon", 1) {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Microsoft Exchange Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    static constexpr char kFunction[] = "MsExchange::NativeDetectionAddon::GetMachineInstalledApplications";
    MachineManagement::InstalledApplications applications;
    if (IsExchangeInstalled()) {
        applications.emplace(Core::ExchangeAppId, std::wstring());
        LOG_TRACE(Logging::INFORMATION, kFunction, "[Exchange Native] Microsoft Exchange detected");
    } else {
        LOG_TRACE(Logging::INFORMATION, kFunction, "[Exchange Native] Microsoft Exchange not detected");
    }
    return applications;
}

bool NativeDetectionAddon::IsExchangeInstalled() {
    const bool wow64 = RunsUnderWow64();
    SYSTEM_INFO info = {};
    ::GetNativeSystemInfo(&info);
    if (!IsArchitectureProbed(info.wProcessorArchitecture, wow64)) {
        return false;
    }
    return CheckExchangeInRegistry();
}

bool NativeDetectionAddon::CheckExchangeInRegistry() {
    for (const wchar_t* root : kRegistryRoots) {
        const std::wstring rootPath = root;
        std::wstring eseVersion;
        if (!GetExchangeVersionFromSetupKey(rootPath + L"\\Setup", eseVersion)) {
            continue;
        }
        std::wstring mailboxVersion;
        if (!GetMailboxRoleVersion(rootPath + L"\\MailboxRole", mailboxVersion)) {
            continue;
        }
        uint32_t eseMajor = 0;
        uint32_t mailboxMajor = 0;
        if (ParseMajorVersion(eseVersion, eseMajor) && ParseMajorVersion(mailboxVersion, mailboxMajor) &&
            eseMajor == mailboxMajor) {
            return true;
        }
    }
    return false;
}

bool NativeDetectionAddon::GetExchangeVersionFromSetupKey(const std::wstring& setupKeyPath, std::wstring& version) {
    static constexpr char kFunction[] = "MsExchange::NativeDetectionAddon::GetExchangeVersionFromSetupKey";
    version.clear();

    std::wstring installPath;
    {
        Common::UniqueHkey key;
        const LONG openResult = OpenKey(setupKeyPath, key);
        if (openResult != ERROR_SUCCESS) {
            LOG_TRACE(Logging::WARNING, kFunction, "[Exchange Native] Failed to open registry key: %s (error=%d)",
                      Common::Utf16ToUtf8(setupKeyPath).c_str(), static_cast<int>(openResult));
            return false;
        }
        ReadStringValue(key.get(), L"Services", installPath);
        if (installPath.empty()) {
            ReadStringValue(key.get(), L"MsiInstallPath", installPath);
        }
    }
    if (installPath.empty()) {
        LOG_TRACE(Logging::DEBUG_TRACE, kFunction, "[Exchange Native] No install path found in registry key: %s",
                  Common::Utf16ToUtf8(setupKeyPath).c_str());
        return false;
    }

    const std::wstring libraryPath = BuildEseLibraryPath(installPath);
    std::wstring fileVersion;
    if (!GetFileVersionString(libraryPath, fileVersion)) {
        const DWORD lastError = ::GetLastError();
        LOG_TRACE(Logging::WARNING, kFunction,
                  "[Exchange Native] Failed to read ese.dll version from: %S (GetLastError=%u)", libraryPath.c_str(),
                  static_cast<unsigned>(lastError));
        return false;
    }
    version = fileVersion;
    return true;
}

bool NativeDetectionAddon::GetMailboxRoleVersion(const std::wstring& mailboxRoleKeyPath, std::wstring& version) {
    static constexpr char kFunction[] = "MsExchange::NativeDetectionAddon::GetMailboxRoleVersion";
    version.clear();

    Common::UniqueHkey key;
    const LONG openResult = OpenKey(mailboxRoleKeyPath, key);
    if (openResult != ERROR_SUCCESS) {
        LOG_TRACE(Logging::WARNING, kFunction,
                  "[Exchange Native] Failed to open mailbox role registry key: %s (error=%d)",
                  Common::Utf16ToUtf8(mailboxRoleKeyPath).c_str(), static_cast<int>(openResult));
        return false;
    }
    if (ReadMailboxVersionValue(key.get(), L"ConfiguredVersion", version) ||
        ReadMailboxVersionValue(key.get(), L"UnpackedVersion", version)) {
        return true;
    }
    key.reset();
    LOG_TRACE(Logging::DEBUG_TRACE, kFunction, "[Exchange Native] No mailbox version found in registry key: %s",
              Common::Utf16ToUtf8(mailboxRoleKeyPath).c_str());
    return false;
}

bool NativeDetectionAddon::GetFileVersionString(const std::wstring& filePath, std::wstring& version) {
    version.clear();
    uint32_t fileVersionMS = 0;
    uint32_t fileVersionLS = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ReadFixedFileVersion(filePath, fileVersionMS, fileVersionLS, error)) {
        // Restored here, after the resource buffer is gone, for the caller's message.
        ::SetLastError(error);
        return false;
    }
    version = FormatFileVersion(fileVersionMS, fileVersionLS);
    return true;
}

void NativeDetectionAddon::ReadStringValue(HKEY key, const wchar_t* valueName, std::wstring& text) {
    text.clear();
    DWORD size = 0;
    DWORD type = REG_SZ;
    if (::RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || size == 0) {
        return;
    }
    // One unit more than the data touches, so that the text ends even when the data does not:
    // an odd byte count ends inside a unit of its own.
    std::vector<wchar_t> buffer((size + 1) / sizeof(wchar_t) + 1, L'\0');
    DWORD readSize = size;
    type = REG_SZ;
    const LONG result =
        ::RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &readSize);
    if (result != ERROR_SUCCESS || type != REG_SZ || buffer[0] == L'\0') {
        return;
    }
    text.assign(buffer.data());
}

}  // namespace MsExchange
