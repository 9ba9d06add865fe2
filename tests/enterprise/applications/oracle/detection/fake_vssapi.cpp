// A stand-in for vssapi.dll beside a copy of hostprobe.exe. HOSTPROBE_FAKE_VSS says how it
// answers, as "key=value;...": create, init, gather, wait and count give the HRESULT (hex) of
// that step ("null": create succeeds without an object); writers lists the writers, separated
// by '|': a name, or "meta:<hr>" (its metadata fails), "nometa" (no metadata), "id:<hr>" (its
// identity fails after handing out an Oracle name), "noname" (no name) or "throw" (reading it
// throws). When the library goes, "live=" and the number of objects never released are written
// to the file HOSTPROBE_FAKE_VSS_LOG. Also built without its export, as a foreign vssapi.dll.

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <cwchar>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#define NOT_IMPLEMENTED(method, ...)                         \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { \
        return E_NOTIMPL;                                    \
    }

namespace {

long g_liveObjects = 0;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return std::wstring(value, length < 1024 ? length : 0);
}

std::wstring Setting(const std::wstring& key) {
    const std::wstring scenario = L";" + Environment(L"HOSTPROBE_FAKE_VSS") + L";";
    const size_t at = scenario.find(L";" + key + L"=");
    if (at == std::wstring::npos) {
        return std::wstring();
    }
    const size_t start = at + key.size() + 2;
    return scenario.substr(start, scenario.find(L';', start) - start);
}

HRESULT Hex(const std::wstring& text) {
    return static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 16));
}

// S_FALSE stands for a success without an object.
HRESULT Outcome(const wchar_t* step) {
    const std::wstring value = Setting(step);
    return value == L"null" ? S_FALSE : Hex(value);
}

template <typename Interface>
class Fake : public Interface {
public:
    Fake() { ++g_liveObjects; }
    virtual ~Fake() { --g_liveObjects; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == __uuidof(IUnknown) || iid == __uuidof(Interface) ? static_cast<Interface*>(this) : nullptr;
        if (*out == nullptr) {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

private:
    ULONG references_ = 1;
};

class Async final : public Fake<IVssAsync> {
public:
    HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
        return milliseconds == 30000 ? Outcome(L"wait") : E_INVALIDARG;
    }
    NOT_IMPLEMENTED(Cancel);
    NOT_IMPLEMENTED(QueryStatus, HRESULT*, INT*);
};

class WriterMetadata final : public Fake<IVssExamineWriterMetadata> {
public:
    explicit WriterMetadata(const std::wstring& writer) : writer_(writer) {}
    HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instanceId, VSS_ID* writerId, BSTR* name, VSS_USAGE_TYPE* usage,
                                          VSS_SOURCE_TYPE* source) override {
        if (instanceId == nullptr || writerId == nullptr || usage == nullptr || source == nullptr) {
            return E_POINTER;
        }
        if (writer_ == L"throw") {
            throw std::runtime_error("unreadable writer");
        }
        const bool fails = writer_.rfind(L"id:", 0) == 0;
        *name = writer_ == L"noname" ? nullptr : ::SysAllocString(fails ? L"Oracle VSS Writer" : writer_.c_str());
        return fails ? Hex(writer_.substr(3)) : S_OK;
    }
    NOT_IMPLEMENTED(GetFileCounts, UINT*, UINT*, UINT*);
    NOT_IMPLEMENTED(GetIncludeFile, UINT, IVssWMFiledesc**);
    NOT_IMPLEMENTED(GetExcludeFile, UINT, IVssWMFiledesc**);
    NOT_IMPLEMENTED(GetComponent, UINT, IVssWMComponent**);
    NOT_IMPLEMENTED(GetRestoreMethod, VSS_RESTOREMETHOD_ENUM*, BSTR*, BSTR*, VSS_WRITERRESTORE_ENUM*, boolean*, UINT*);
    NOT_IMPLEMENTED(GetAlternateLocationMapping, UINT, IVssWMFiledesc**);
    NOT_IMPLEMENTED(GetBackupSchema, DWORD*);
    NOT_IMPLEMENTED(GetDocument, IXMLDOMDocument**);
    NOT_IMPLEMENTED(SaveAsXML, BSTR*);
    NOT_IMPLEMENTED(LoadFromXML, BSTR);

private:
    std::wstring writer_;
};

class BackupComponents final : public Fake<IVssBackupComponents> {
public:
    BackupComponents() {
        std::wistringstream list(Setting(L"writers"));
        for (std::wstring writer; std::getline(list, writer, L'|');) {
            writers_.push_back(writer);
        }
    }
    HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR document) override {
        return document == nullptr ? Outcome(L"init") : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override {
        const HRESULT hr = Outcome(L"gather");
        *async = SUCCEEDED(hr) ? new Async : nullptr;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
        *count = static_cast<UINT>(writers_.size());
        return Outcome(L"count");
    }
    HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instanceId,
                                                IVssExamineWriterMetadata** metadata) override {
        if (index >= writers_.size() || instanceId == nullptr) {
            return E_INVALIDARG;
        }
        const std::wstring& writer = writers_[index];
        const bool fails = writer.rfind(L"meta:", 0) == 0;
        *metadata = fails || writer == L"nometa" ? nullptr : new WriterMetadata(writer);
        return fails ? Hex(writer.substr(5)) : S_OK;
    }
    NOT_IMPLEMENTED(FreeWriterMetadata);
    NOT_IMPLEMENTED(GetWriterComponentsCount, UINT*);
    NOT_IMPLEMENTED(GetWriterComponents, UINT, IVssWriterComponentsExt**);
    NOT_IMPLEMENTED(SetBackupState, boolean, boolean, VSS_BACKUP_TYPE, boolean);
    NOT_IMPLEMENTED(InitializeForRestore, BSTR);
    NOT_IMPLEMENTED(SetRestoreState, VSS_RESTORE_TYPE);
    NOT_IMPLEMENTED(AddComponent, VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR);
    NOT_IMPLEMENTED(PrepareForBackup, IVssAsync**);
    NOT_IMPLEMENTED(AbortBackup);
    NOT_IMPLEMENTED(GatherWriterStatus, IVssAsync**);
    NOT_IMPLEMENTED(GetWriterStatusCount, UINT*);
    NOT_IMPLEMENTED(FreeWriterStatus);
    NOT_IMPLEMENTED(GetWriterStatus, UINT, VSS_ID*, VSS_ID*, BSTR*, VSS_WRITER_STATE*, HRESULT*);
    NOT_IMPLEMENTED(SetBackupSucceeded, VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean);
    NOT_IMPLEMENTED(SetBackupOptions, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR);
    NOT_IMPLEMENTED(SetSelectedForRestore, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean);
    NOT_IMPLEMENTED(SetRestoreOptions, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR);
    NOT_IMPLEMENTED(SetAdditionalRestores, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean);
    NOT_IMPLEMENTED(SetPreviousBackupStamp, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR);
    NOT_IMPLEMENTED(SaveAsXML, BSTR*);
    NOT_IMPLEMENTED(BackupComplete, IVssAsync**);
    NOT_IMPLEMENTED(AddAlternativeLocationMapping, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                    boolean, LPCWSTR);
    NOT_IMPLEMENTED(AddRestoreSubcomponent, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean);
    NOT_IMPLEMENTED(SetFileRestoreStatus, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, VSS_FILE_RESTORE_STATUS);
    NOT_IMPLEMENTED(AddNewTarget, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean, LPCWSTR);
    NOT_IMPLEMENTED(SetRangesFilePath, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR);
    NOT_IMPLEMENTED(PreRestore, IVssAsync**);
    NOT_IMPLEMENTED(PostRestore, IVssAsync**);
    NOT_IMPLEMENTED(SetContext, LONG);
    NOT_IMPLEMENTED(StartSnapshotSet, VSS_ID*);
    NOT_IMPLEMENTED(AddToSnapshotSet, VSS_PWSZ, VSS_ID, VSS_ID*);
    NOT_IMPLEMENTED(DoSnapshotSet, IVssAsync**);
    NOT_IMPLEMENTED(DeleteSnapshots, VSS_ID, VSS_OBJECT_TYPE, WINBOOL, LONG*, VSS_ID*);
    NOT_IMPLEMENTED(ImportSnapshots, IVssAsync**);
    NOT_IMPLEMENTED(BreakSnapshotSet, VSS_ID);
    NOT_IMPLEMENTED(GetSnapshotProperties, VSS_ID, VSS_SNAPSHOT_PROP*);
    NOT_IMPLEMENTED(Query, VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject**);
    NOT_IMPLEMENTED(IsVolumeSupported, VSS_ID, VSS_PWSZ, WINBOOL*);
    NOT_IMPLEMENTED(DisableWriterClasses, const VSS_ID*, UINT);
    NOT_IMPLEMENTED(EnableWriterClasses, const VSS_ID*, UINT);
    NOT_IMPLEMENTED(DisableWriterInstances, const VSS_ID*, UINT);
    NOT_IMPLEMENTED(ExposeSnapshot, VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*);
    NOT_IMPLEMENTED(RevertToSnapshot, VSS_ID, WINBOOL);
    NOT_IMPLEMENTED(QueryRevertStatus, VSS_PWSZ, IVssAsync**);

private:
    std::vector<std::wstring> writers_;
};

}  // namespace

#ifndef HOSTPROBE_FAKE_WITHOUT_EXPORT
extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateVssBackupComponentsInternal(IVssBackupComponents** components) {
    const HRESULT hr = Outcome(L"create");
    *components = hr == S_OK ? new BackupComponents : nullptr;
    return hr == S_FALSE ? S_OK : hr;
}
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    const std::wstring path = reason == DLL_PROCESS_DETACH ? Environment(L"HOSTPROBE_FAKE_VSS_LOG") : L"";
    if (!path.empty()) {
        const std::string text = "live=" + std::to_string(g_liveObjects);
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        ::CloseHandle(file);
    }
    return TRUE;
}
