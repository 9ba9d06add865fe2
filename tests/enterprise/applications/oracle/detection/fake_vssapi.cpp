// A stand-in for vssapi.dll, placed beside a copy of hostprobe.exe. Its backup components
// serve the writers of one scenario, chosen by HOSTPROBE_FAKE_VSS_SCENARIO, and every call
// the detector makes, every object's final release and the library's unloading are appended,
// one line each, to the journal file named by HOSTPROBE_FAKE_VSS_JOURNAL.

// clang-format off
#include <windows.h>
#include <objbase.h>
#include <vss.h>
#include <vswriter.h>
#include <vsbackup.h>
// clang-format on

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::atomic<long> g_liveObjects{0};

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, buffer, ARRAYSIZE(buffer));
    return length > 0 && length < ARRAYSIZE(buffer) ? std::wstring(buffer, length) : std::wstring();
}

void Journal(const std::string& line) {
    const std::wstring path = Environment(L"HOSTPROBE_FAKE_VSS_JOURNAL");
    if (path.empty()) {
        return;
    }
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

struct FakeWriter {
    explicit FakeWriter(const wchar_t* name) : name(name) {}

    const wchar_t* name;            // null: the identity carries no name
    HRESULT metadataResult = S_OK;  //
    bool metadataMissing = false;   // GetWriterMetadata succeeds without an object
    HRESULT identityResult = S_OK;  // a failure still hands out `name` when it is set
    bool identityThrows = false;    // GetIdentity throws a C++ exception
};

struct Scenario {
    explicit Scenario(const wchar_t* name) : name(name) {}

    const wchar_t* name;
    HRESULT createResult = S_OK;
    bool createMissing = false;  // CreateVssBackupComponentsInternal succeeds without an object
    HRESULT initResult = S_OK;
    HRESULT gatherResult = S_OK;
    HRESULT waitResult = S_OK;
    HRESULT countResult = S_OK;
    std::vector<FakeWriter> writers;
};

std::vector<FakeWriter> Writers(std::initializer_list<const wchar_t*> names) {
    std::vector<FakeWriter> writers;
    for (const wchar_t* name : names) {
        writers.emplace_back(name);
    }
    return writers;
}

std::vector<Scenario> MakeScenarios() {
    std::vector<Scenario> all;
    all.reserve(16);
    auto add = [&all](const wchar_t* name) -> Scenario& { return all.emplace_back(name); };

    add(L"create-fails").createResult = VSS_E_UNEXPECTED;
    add(L"create-missing").createMissing = true;
    add(L"init-fails").initResult = E_ACCESSDENIED;
    add(L"gather-fails").gatherResult = VSS_E_BAD_STATE;
    add(L"wait-fails").waitResult = VSS_E_WRITERERROR_NONRETRYABLE;
    add(L"count-fails").countResult = VSS_E_UNEXPECTED_PROVIDER_ERROR;
    add(L"no-writers").waitResult = VSS_S_ASYNC_FINISHED;
    add(L"oracle-with-suffix").writers = Writers({L"System Writer", L"Oracle VSS Writer - ORCL", L"Registry Writer"});
    add(L"case-differs").writers =
        Writers({L"oracle vss writer", L"Oracle VSS writer", L"ORACLE VSS WRITER - ORCL", L"Oracle VSS Write"});
    add(L"two-oracle").writers = Writers({L"ACME Oracle VSS Writer (PROD)", L"Oracle VSS Writer - TEST"});

    Scenario& bad = add(L"bad-writers");
    bad.writers = Writers({L"Oracle VSS Writer - A", L"Oracle VSS Writer - B", L"Oracle VSS Writer - C", nullptr,
                           L"Oracle VSS Writer - E"});
    bad.writers[0].metadataResult = VSS_E_WRITER_NOT_RESPONDING;
    bad.writers[1].metadataMissing = true;
    bad.writers[2].identityResult = VSS_E_CORRUPT_XML_DOCUMENT;

    Scenario& throws = add(L"throws");
    throws.writers = Writers({L"System Writer", L"Oracle VSS Writer", L"Oracle VSS Writer"});
    throws.writers[1].identityThrows = true;
    return all;
}

const Scenario* FindScenario(const std::wstring& name) {
    static const std::vector<Scenario> scenarios = MakeScenarios();
    for (const Scenario& scenario : scenarios) {
        if (name == scenario.name) {
            return &scenario;
        }
    }
    return nullptr;
}

// Reference counting shared by the fake objects; the final release is journaled.
template <typename Interface>
class FakeObject : public Interface {
public:
    explicit FakeObject(std::string label) : label_(std::move(label)) { ++g_liveObjects; }
    virtual ~FakeObject() {
        Journal("released " + label_);
        --g_liveObjects;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == __uuidof(IUnknown) || iid == __uuidof(Interface)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }

private:
    std::atomic<ULONG> references_{1};
    std::string label_;
};

class FakeAsync : public FakeObject<IVssAsync> {
public:
    explicit FakeAsync(const Scenario& scenario) : FakeObject("async"), scenario_(scenario) {}

    HRESULT STDMETHODCALLTYPE Cancel() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Wait(DWORD milliseconds) override {
        Journal("Wait " + std::to_string(milliseconds));
        return scenario_.waitResult;
    }
    HRESULT STDMETHODCALLTYPE QueryStatus(HRESULT*, INT*) override {
        Journal("QueryStatus");
        return E_NOTIMPL;
    }

private:
    const Scenario& scenario_;
};

class FakeWriterMetadata : public FakeObject<IVssExamineWriterMetadata> {
public:
    FakeWriterMetadata(const FakeWriter& writer, UINT index)
        : FakeObject("metadata " + std::to_string(index)), writer_(writer), index_(index) {}

    HRESULT STDMETHODCALLTYPE GetIdentity(VSS_ID* instanceId, VSS_ID* writerId, BSTR* name, VSS_USAGE_TYPE* usage,
                                          VSS_SOURCE_TYPE* source) override {
        Journal("GetIdentity " + std::to_string(index_));
        if (instanceId == nullptr || writerId == nullptr || name == nullptr || usage == nullptr || source == nullptr) {
            return E_POINTER;
        }
        if (writer_.identityThrows) {
            throw std::runtime_error("writer metadata unreadable");
        }
        *instanceId = GUID_NULL;
        *writerId = GUID_NULL;
        *usage = VSS_UT_USERDATA;
        *source = VSS_ST_TRANSACTEDDB;
        *name = writer_.name != nullptr ? ::SysAllocString(writer_.name) : nullptr;
        return writer_.identityResult;
    }
    HRESULT STDMETHODCALLTYPE GetFileCounts(UINT*, UINT*, UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIncludeFile(UINT, IVssWMFiledesc**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExcludeFile(UINT, IVssWMFiledesc**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetComponent(UINT, IVssWMComponent**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRestoreMethod(VSS_RESTOREMETHOD_ENUM*, BSTR*, BSTR*, VSS_WRITERRESTORE_ENUM*, boolean*,
                                               UINT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetAlternateLocationMapping(UINT, IVssWMFiledesc**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetBackupSchema(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocument(IXMLDOMDocument**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LoadFromXML(BSTR) override { return E_NOTIMPL; }

private:
    const FakeWriter& writer_;
    UINT index_;
};

class FakeBackupComponents : public FakeObject<IVssBackupComponents> {
public:
    explicit FakeBackupComponents(const Scenario& scenario) : FakeObject("components"), scenario_(scenario) {}

    HRESULT STDMETHODCALLTYPE InitializeForBackup(BSTR xml) override {
        Journal(std::string("InitializeForBackup ") + (xml == nullptr ? "null" : "document"));
        return scenario_.initResult;
    }
    HRESULT STDMETHODCALLTYPE GatherWriterMetadata(IVssAsync** async) override {
        Journal("GatherWriterMetadata");
        if (async == nullptr) {
            return E_POINTER;
        }
        *async = nullptr;
        if (FAILED(scenario_.gatherResult)) {
            return scenario_.gatherResult;
        }
        *async = new FakeAsync(scenario_);
        return scenario_.gatherResult;
    }
    HRESULT STDMETHODCALLTYPE GetWriterMetadataCount(UINT* count) override {
        Journal("GetWriterMetadataCount");
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = static_cast<UINT>(scenario_.writers.size());
        return scenario_.countResult;
    }
    HRESULT STDMETHODCALLTYPE GetWriterMetadata(UINT index, VSS_ID* instanceId,
                                                IVssExamineWriterMetadata** metadata) override {
        Journal("GetWriterMetadata " + std::to_string(index));
        if (instanceId == nullptr || metadata == nullptr) {
            return E_POINTER;
        }
        *metadata = nullptr;
        if (index >= scenario_.writers.size()) {
            return E_INVALIDARG;
        }
        const FakeWriter& writer = scenario_.writers[index];
        if (FAILED(writer.metadataResult)) {
            return writer.metadataResult;
        }
        *instanceId = GUID_NULL;
        if (!writer.metadataMissing) {
            *metadata = new FakeWriterMetadata(writer, index);
        }
        return writer.metadataResult;
    }
    HRESULT STDMETHODCALLTYPE FreeWriterMetadata() override {
        Journal("FreeWriterMetadata");
        return S_OK;
    }

    // Nothing below is part of a metadata enumeration.
    HRESULT STDMETHODCALLTYPE GetWriterComponentsCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterComponents(UINT, IVssWriterComponentsExt**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBackupState(boolean, boolean, VSS_BACKUP_TYPE, boolean) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitializeForRestore(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetRestoreState(VSS_RESTORE_TYPE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddComponent(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PrepareForBackup(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AbortBackup() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GatherWriterStatus(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterStatusCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FreeWriterStatus() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWriterStatus(UINT, VSS_ID*, VSS_ID*, BSTR*, VSS_WRITER_STATE*, HRESULT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBackupSucceeded(VSS_ID, VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                 boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBackupOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetSelectedForRestore(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetRestoreOptions(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetAdditionalRestores(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPreviousBackupStamp(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SaveAsXML(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BackupComplete(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddAlternativeLocationMapping(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR,
                                                            LPCWSTR, boolean, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddRestoreSubcomponent(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR,
                                                     boolean) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetFileRestoreStatus(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR,
                                                   VSS_FILE_RESTORE_STATUS) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AddNewTarget(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, boolean,
                                           LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetRangesFilePath(VSS_ID, VSS_COMPONENT_TYPE, LPCWSTR, LPCWSTR, UINT, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE PreRestore(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE PostRestore(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetContext(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StartSnapshotSet(VSS_ID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddToSnapshotSet(VSS_PWSZ, VSS_ID, VSS_ID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoSnapshotSet(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteSnapshots(VSS_ID, VSS_OBJECT_TYPE, WINBOOL, LONG*, VSS_ID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ImportSnapshots(IVssAsync**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BreakSnapshotSet(VSS_ID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSnapshotProperties(VSS_ID, VSS_SNAPSHOT_PROP*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Query(VSS_ID, VSS_OBJECT_TYPE, VSS_OBJECT_TYPE, IVssEnumObject**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsVolumeSupported(VSS_ID, VSS_PWSZ, WINBOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DisableWriterClasses(const VSS_ID*, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnableWriterClasses(const VSS_ID*, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DisableWriterInstances(const VSS_ID*, UINT) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ExposeSnapshot(VSS_ID, VSS_PWSZ, LONG, VSS_PWSZ, VSS_PWSZ*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RevertToSnapshot(VSS_ID, WINBOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryRevertStatus(VSS_PWSZ, IVssAsync**) override { return E_NOTIMPL; }

private:
    const Scenario& scenario_;
};

const char* ApartmentName() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(::CoGetApartmentType(&type, &qualifier))) {
        return "none";
    }
    switch (type) {
        case APTTYPE_MTA: return "MTA";
        case APTTYPE_STA:
        case APTTYPE_MAINSTA: return "STA";
        default: return "other";
    }
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE
    CreateVssBackupComponentsInternal(IVssBackupComponents** components) {
    const std::wstring name = Environment(L"HOSTPROBE_FAKE_VSS_SCENARIO");
    Journal(std::string("create apartment=") + ApartmentName());
    if (components == nullptr) {
        return E_POINTER;
    }
    *components = nullptr;
    const Scenario* scenario = FindScenario(name);
    if (scenario == nullptr) {
        Journal("unknown scenario");
        return E_INVALIDARG;
    }
    if (FAILED(scenario->createResult) || scenario->createMissing) {
        return scenario->createResult;
    }
    *components = new FakeBackupComponents(*scenario);
    return S_OK;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        // A null `reserved` means FreeLibrary; otherwise the process is exiting.
        Journal(std::string("unloaded ") + (reserved == nullptr ? "by FreeLibrary" : "at exit") +
                " apartment=" + ApartmentName() + " live=" + std::to_string(g_liveObjects.load()));
    }
    return TRUE;
}
