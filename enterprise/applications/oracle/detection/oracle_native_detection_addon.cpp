#include "enterprise/applications/oracle/detection/oracle_native_detection_addon.h"

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <exception>
#include <string>

#include "core/common/handles.h"
#include "logging/log.h"

namespace OracleBackup {

namespace {

constexpr char kTraceSourceFile[] = "enterprise/applications/oracle/detection/oracle_native_detection_addon";

const std::string OracleAppId = "02AC1E0B-C6C3-4bbf-817D-517E4CE428FC";
// Read by nothing in this program; it names the group the identifier belongs to.
const std::string OracleGroupIdName = "OracleGroupId";

constexpr wchar_t kOracleWriterPattern[] = L"Oracle VSS Writer";
constexpr DWORD kMetadataWaitTimeoutMs = 30000;

constexpr wchar_t kVssApiLibrary[] = L"vssapi.dll";
constexpr char kCreateBackupComponentsExport[] = "CreateVssBackupComponentsInternal";
using CreateBackupComponentsFunction = HRESULT(STDAPICALLTYPE*)(IVssBackupComponents**);

// HRESULTs are printed as eight hexadecimal digits of their 32-bit pattern.
unsigned int HexCode(HRESULT hr) {
    return static_cast<unsigned int>(hr);
}

HRESULT LastErrorAsHresult() {
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

// vssapi.dll is loaded at run time rather than imported: a machine without it (or with a
// broken copy) then loses only this detector instead of the whole program failing to start.
HRESULT CreateBackupComponents(Common::UniqueModule& vssapi, Common::ComPtr<IVssBackupComponents>& components) {
    vssapi.reset(::LoadLibraryW(kVssApiLibrary));
    if (!vssapi) {
        return LastErrorAsHresult();
    }
    const FARPROC address = ::GetProcAddress(vssapi.get(), kCreateBackupComponentsExport);
    if (address == nullptr) {
        return LastErrorAsHresult();
    }
    const auto create = reinterpret_cast<CreateBackupComponentsFunction>(reinterpret_cast<void (*)()>(address));
    const HRESULT hr = create(components.put());
    // A success without an object would otherwise end in a call through a null pointer.
    return SUCCEEDED(hr) && !components ? E_POINTER : hr;
}

}  // namespace

NativeDetectionAddon::NativeDetectionAddon() {
    RegisterInterfaceOf<MachineManagement::MachineAppDetectionAddon>();
}

std::string NativeDetectionAddon::GetName() const {
    return "Oracle Native Detection Addon";
}

uint32_t NativeDetectionAddon::GetVersion() const {
    return 1;
}

MachineManagement::InstalledApplications NativeDetectionAddon::GetMachineInstalledApplications() {
    static constexpr char kFunction[] = "OracleBackup::NativeDetectionAddon::GetMachineInstalledApplications";
    MachineManagement::InstalledApplications applications;
    try {
        LOG_TRACE(Logging::INFORMATION, kFunction, "[Oracle Detection] Starting Oracle VSS Writer detection");
        if (IsOracleVssWriterPresent()) {
            LOG_TRACE(Logging::INFORMATION, kFunction, "[Oracle Detection] Oracle detected via VSS Writer");
            applications[OracleAppId] = std::wstring();
        } else {
            LOG_TRACE(Logging::INFORMATION, kFunction, "[Oracle Detection] Oracle VSS Writer not found");
        }
    } catch (const std::exception& exception) {
        LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Exception during detection: %s", exception.what());
    } catch (...) {
        LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Unknown exception during detection");
    }
    return applications;
}

bool NativeDetectionAddon::IsOracleVssWriterPresent() {
    static constexpr char kFunction[] = "OracleBackup::NativeDetectionAddon::IsOracleVssWriterPresent";

    // Declared before the COM scope: the library is unloaded only after COM has let go of it.
    Common::UniqueModule vssapi;
    const HRESULT comResult = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // A thread already in a single-threaded apartment can still enumerate; it is then left
    // initialised as it was, since only a successful initialisation is balanced.
    if (FAILED(comResult) && comResult != RPC_E_CHANGED_MODE) {
        LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Failed to initialize COM");
        return false;
    }
    const Common::ComInitScope com(comResult);

    try {
        Common::ComPtr<IVssBackupComponents> components;
        HRESULT hr = CreateBackupComponents(vssapi, components);
        if (FAILED(hr)) {
            LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Failed to create VSS backup components: 0x%08X",
                      HexCode(hr));
            return false;
        }
        hr = components->InitializeForBackup(nullptr);
        if (FAILED(hr)) {
            LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Failed to initialize VSS for backup: 0x%08X",
                      HexCode(hr));
            return false;
        }

        Common::ComPtr<IVssAsync> gathering;
        hr = components->GatherWriterMetadata(gathering.put());
        if (SUCCEEDED(hr) && !gathering) {
            hr = E_POINTER;
        }
        if (FAILED(hr)) {
            LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Failed to gather writer metadata: 0x%08X",
                      HexCode(hr));
            return false;
        }
        // Only the wait's own result counts; the gathering's status is not queried.
        hr = gathering->Wait(kMetadataWaitTimeoutMs);
        if (FAILED(hr)) {
            LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Failed waiting for writer metadata: 0x%08X",
                      HexCode(hr));
            return false;
        }

        UINT writerCount = 0;
        hr = components->GetWriterMetadataCount(&writerCount);
        if (FAILED(hr)) {
            LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] Failed to get writer count: 0x%08X",
                      HexCode(hr));
            return false;
        }
        LOG_TRACE(Logging::INFORMATION, kFunction, "[Oracle Detection] Found %u VSS writers", writerCount);

        bool found = false;
        for (UINT index = 0; index < writerCount && !found; ++index) {
            VSS_ID instanceId = GUID_NULL;
            Common::ComPtr<IVssExamineWriterMetadata> metadata;
            hr = components->GetWriterMetadata(index, &instanceId, metadata.put());
            if (FAILED(hr) || !metadata) {
                LOG_TRACE(Logging::WARNING, kFunction,
                          "[Oracle Detection] GetWriterMetadata failed for writer %u: hr=0x%08X", index, HexCode(hr));
                continue;
            }

            VSS_ID identityInstanceId = GUID_NULL;
            VSS_ID writerId = GUID_NULL;
            Common::UniqueBstr nameBstr;
            VSS_USAGE_TYPE usage = VSS_UT_UNDEFINED;
            VSS_SOURCE_TYPE source = VSS_ST_UNDEFINED;
            hr = metadata->GetIdentity(&identityInstanceId, &writerId, nameBstr.put(), &usage, &source);
            if (FAILED(hr) || !nameBstr) {
                LOG_TRACE(Logging::WARNING, kFunction, "[Oracle Detection] GetIdentity failed for writer %u: hr=0x%08X",
                          index, HexCode(hr));
                continue;
            }
            const std::wstring name(nameBstr.get());
            nameBstr.reset();
            LOG_TRACE(Logging::INFORMATION, kFunction, "[Oracle Detection] Checking writer: %S", name.c_str());

            if (name.find(kOracleWriterPattern) != std::wstring::npos) {
                LOG_TRACE(Logging::INFORMATION, kFunction, "[Oracle Detection] Found Oracle VSS Writer: %S",
                          name.c_str());
                found = true;
            }
        }
        return found;
    } catch (...) {
        // The VSS objects are already released by the unwinding; COM and the library follow.
        LOG_TRACE(Logging::ERROR_TRACE, kFunction, "[Oracle Detection] Exception during VSS writer enumeration");
        return false;
    }
}

}  // namespace OracleBackup
