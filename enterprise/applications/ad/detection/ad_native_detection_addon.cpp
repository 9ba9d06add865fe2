#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"

#include <comdef.h>
#include <objbase.h>
#include <wbemcli.h>
#include <windows.h>

#include "core/common/handles.h"
#include "enterprise/core/addons/app_ids.h"
#include "logging/log.h"

namespace ActiveDirectory {

namespace {

constexpr char kTraceSourceFile[] = "enterprise/applications/ad/detection/ad_native_detection_addon";

// {4590F811-1D3A-11D0-891F-00AA004B2E24}
constexpr CLSID kWbemLocatorClsid = {0x4590F811, 0x1D3A, 0x11D0, {0x89, 0x1F, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};
// {DC12A687-737F-11CF-884D-00AA004B2E24}
constexpr IID kWbemLocatorIid = {0xDC12A687, 0x737F, 0x11CF, {0x88, 0x4D, 0x00, 0xAA, 0x00, 0x4B, 0x2E, 0x24}};

constexpr wchar_t kNamespace[] = L"ROOT\\CIMV2";
constexpr wchar_t kQueryLanguage[] = L"WQL";
constexpr wchar_t kQuery[] = L"SELECT DomainRole FROM Win32_ComputerSystem";
constexpr wchar_t kDomainRoleProperty[] = L"DomainRole";

constexpr ULONG kEnumerationTimeoutMs = 30000;

// Backup and primary domain controller.
constexpr LONG kBackupDomainController = 4;
constexpr LONG kPrimaryDomainController = 5;

// A BSTR for one call; running out of memory here is not a detection result, so it escapes as
// the platform's COM error.
Common::UniqueBstr AllocateBstr(const wchar_t* text) {
    Common::UniqueBstr bstr(::SysAllocString(text));
    if (!bstr) {
        _com_issue_error(E_OUTOFMEMORY);
    }
    return bstr;
}

unsigned HexCode(HRESULT hr) {
    return static_cast<unsigned>(hr);
}

}  // namespace

NativeDetectionAddon::NativeDetectionAddon() {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Active Directory Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    static constexpr char kFunction[] = "ActiveDirectory::NativeDetectionAddon::GetMachineInstalledApplications";
    MachineManagement::InstalledApplications applications;
    if (IsDomainController()) {
        applications.emplace(Core::ActiveDirectoryAppId, std::wstring());
        LOG_TRACE(Logging::INFORMATION, kFunction, "[AD Native] Active Directory detected on Domain Controller");
    } else {
        LOG_TRACE(Logging::INFORMATION, kFunction,
                  "[AD Native] Active Directory not detected (not a Domain Controller)");
    }
    return applications;
}

bool NativeDetectionAddon::IsDomainController() {
    static constexpr char kFunction[] = "ActiveDirectory::NativeDetectionAddon::IsDomainController";

    // A thread already in a single-threaded apartment can still run the query; it is then
    // not ours to uninitialise, which the scope takes care of.
    const HRESULT initResult = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initResult) && initResult != RPC_E_CHANGED_MODE) {
        LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] Failed to initialize COM");
        return false;
    }
    // Declared before every interface pointer, so that they are all released before COM goes.
    const Common::ComInitScope comScope(initResult);

    // Security can be set once per process; a later call finds it in force already.
    HRESULT hr = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                        RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
        LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] Failed to set COM security levels (HRESULT=0x%X)",
                  HexCode(hr));
        return false;
    }

    Common::ComPtr<IWbemLocator> locator;
    hr = ::CoCreateInstance(kWbemLocatorClsid, nullptr, CLSCTX_INPROC_SERVER, kWbemLocatorIid, locator.put_void());
    if (SUCCEEDED(hr) && !locator) {
        hr = E_POINTER;  // a misbehaving server must not make us call through null
    }
    if (FAILED(hr)) {
        LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] Failed to create WMI locator (HRESULT=0x%X)", HexCode(hr));
        return false;
    }

    Common::ComPtr<IWbemServices> services;
    {
        const Common::UniqueBstr wmiNamespace = AllocateBstr(kNamespace);
        hr = locator->ConnectServer(wmiNamespace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put());
    }
    if (SUCCEEDED(hr) && !services) {
        hr = E_POINTER;
    }
    if (FAILED(hr)) {
        LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] Failed to connect to WMI (HRESULT=0x%X)", HexCode(hr));
        return false;
    }

    hr = ::CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] Failed to set proxy blanket (HRESULT=0x%X)", HexCode(hr));
        return false;
    }

    Common::ComPtr<IEnumWbemClassObject> enumerator;
    {
        const Common::UniqueBstr language = AllocateBstr(kQueryLanguage);
        const Common::UniqueBstr query = AllocateBstr(kQuery);
        hr = services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 nullptr, enumerator.put());
    }
    if (FAILED(hr)) {
        LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] Failed to execute WMI query (HRESULT=0x%X)", HexCode(hr));
        return false;
    }

    bool isDomainController = false;
    while (enumerator) {
        Common::ComPtr<IWbemClassObject> object;
        ULONG returned = 0;
        hr = enumerator->Next(static_cast<LONG>(kEnumerationTimeoutMs), 1, object.put(), &returned);
        if (hr == WBEM_S_TIMEDOUT) {
            LOG_TRACE(Logging::ERROR_TRACE, kFunction, "[AD Native] WMI query timeout after %u ms",
                      static_cast<unsigned>(kEnumerationTimeoutMs));
            break;
        }
        if (FAILED(hr)) {
            LOG_TRACE(Logging::WARNING, kFunction, "[AD Native] WMI enumeration failed (HRESULT=0x%X)", HexCode(hr));
            break;
        }
        if (returned == 0 || !object) {
            break;
        }

        Common::UniqueVariant domainRole;
        hr = object->Get(kDomainRoleProperty, 0, domainRole.get(), nullptr, nullptr);
        // The role arrives as a 32-bit integer; its variant type is deliberately not checked.
        if (SUCCEEDED(hr)) {
            const LONG role = V_I4(domainRole.get());
            if (role == kBackupDomainController || role == kPrimaryDomainController) {
                isDomainController = true;
            }
        }
    }
    return isDomainController;
}

}  // namespace ActiveDirectory
