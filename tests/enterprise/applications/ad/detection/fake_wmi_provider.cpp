// A stand-in for the WMI locator, registered by the tests under the WbemLocator class id.
//
// What it answers is read from the environment when the locator is created:
//   HOSTPROBE_FAKE_WMI      "key=value;..." with the keys
//                             create, connect, blanket, query   an HRESULT (hex) that step fails with;
//                                       for create, connect and query "null" means success without
//                                       an object
//                             objects   what successive Next calls return, comma-separated:
//                                       <n>          an object whose DomainRole is the VT_I4 n
//                                       i2:<n>       an object whose DomainRole is the VT_I2 n
//                                       getfail:<hr> an object whose Get leaves VT_I4 5 behind and fails
//                                       timeout      WBEM_S_TIMEDOUT without an object
//                                       fail:<hr>    that failure without an object
//                                       none         WBEM_S_NO_ERROR without an object
//                                     after the last entry Next returns WBEM_S_FALSE.
//   HOSTPROBE_FAKE_WMI_LOG  a file to which every call and every object's birth and death is
//                           appended, one line each, so that a test can check the arguments,
//                           the order and that every reference was released.

#include <objbase.h>
#include <oleauto.h>
#include <wbemcli.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

LONG g_liveObjects = 0;
LONG g_serverLocks = 0;

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string out;
    for (; *text != L'\0'; ++text) {
        out.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    }
    return out;
}

std::wstring ReadEnvironment(const wchar_t* name) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = ::GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        return std::wstring();
    }
    return std::wstring(buffer.data(), length);
}

void Record(const std::string& line) {
    const std::wstring path = ReadEnvironment(L"HOSTPROBE_FAKE_WMI_LOG");
    if (path.empty()) {
        return;
    }
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string bytes = line + "\n";
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::string Pointer(const void* p) {
    return p == nullptr ? "null" : "set";
}

// A string the callee may treat as a BSTR must carry a length prefix that matches its text.
std::string Bstr(BSTR text) {
    if (text == nullptr) {
        return "(null)";
    }
    const bool prefixed = ::SysStringLen(text) == std::wcslen(text);
    return Narrow(text) + (prefixed ? "" : " [not a BSTR]");
}

std::string IidName(REFIID iid) {
    if (iid == IID_IUnknown)
        return "IUnknown";
    if (iid == IID_IClassFactory)
        return "IClassFactory";
    if (iid == IID_IWbemLocator)
        return "IWbemLocator";
    if (iid == IID_IWbemServices)
        return "IWbemServices";
    if (iid == IID_IClientSecurity)
        return "IClientSecurity";
    if (iid == IID_IEnumWbemClassObject)
        return "IEnumWbemClassObject";
    if (iid == IID_IWbemClassObject)
        return "IWbemClassObject";
    return "other";
}

// ---- configuration

enum class ItemKind { Role, RoleI2, GetFails, Timeout, Fails, None };

struct Item {
    ItemKind kind;
    long value;  // the role or the HRESULT
};

struct Script {
    HRESULT create = S_OK;
    HRESULT connect = S_OK;
    HRESULT blanket = S_OK;
    HRESULT query = S_OK;
    std::vector<Item> objects;
};

// Success without an object, as a misbehaving provider might answer.
constexpr HRESULT kSucceedWithNull = S_FALSE;

HRESULT ParseHresult(const std::string& text) {
    if (text == "null") {
        return kSucceedWithNull;
    }
    return static_cast<HRESULT>(std::strtoul(text.c_str(), nullptr, 16));
}

Item ParseItem(const std::string& text) {
    auto after = [&](const char* prefix) { return text.substr(std::strlen(prefix)); };
    if (text == "timeout")
        return {ItemKind::Timeout, 0};
    if (text == "none")
        return {ItemKind::None, 0};
    if (text.rfind("fail:", 0) == 0)
        return {ItemKind::Fails, static_cast<long>(ParseHresult(after("fail:")))};
    if (text.rfind("getfail:", 0) == 0) {
        return {ItemKind::GetFails, static_cast<long>(ParseHresult(after("getfail:")))};
    }
    if (text.rfind("i2:", 0) == 0)
        return {ItemKind::RoleI2, std::strtol(after("i2:").c_str(), nullptr, 10)};
    return {ItemKind::Role, std::strtol(text.c_str(), nullptr, 10)};
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > start) {
            parts.push_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

std::shared_ptr<const Script> ReadScript() {
    auto script = std::make_shared<Script>();
    for (const std::string& setting : Split(Narrow(ReadEnvironment(L"HOSTPROBE_FAKE_WMI").c_str()), ';')) {
        const size_t equals = setting.find('=');
        const std::string key = setting.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : setting.substr(equals + 1);
        if (key == "create")
            script->create = ParseHresult(value);
        if (key == "connect")
            script->connect = ParseHresult(value);
        if (key == "blanket")
            script->blanket = ParseHresult(value);
        if (key == "query")
            script->query = ParseHresult(value);
        if (key == "objects") {
            for (const std::string& item : Split(value, ',')) {
                script->objects.push_back(ParseItem(item));
            }
        }
    }
    return script;
}

// ---- objects

// Reference counting and the birth and death lines shared by every object of the fake.
class Counted {
public:
    explicit Counted(const char* kind) : kind_(kind) {
        ::InterlockedIncrement(&g_liveObjects);
        Record(std::string("new ") + kind_);
    }
    virtual ~Counted() {
        Record(std::string("delete ") + kind_);
        ::InterlockedDecrement(&g_liveObjects);
    }
    ULONG AddRefImpl() { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
    ULONG ReleaseImpl() {
        const LONG left = ::InterlockedDecrement(&refs_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

private:
    const char* kind_;
    LONG refs_ = 1;
};

#define FAKE_IUNKNOWN                                                           \
    ULONG STDMETHODCALLTYPE AddRef() override {                                 \
        return AddRefImpl();                                                    \
    }                                                                           \
    ULONG STDMETHODCALLTYPE Release() override {                                \
        return ReleaseImpl();                                                   \
    }                                                                           \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override { \
        if (out == nullptr)                                                     \
            return E_POINTER;                                                   \
        *out = Find(iid);                                                       \
        if (*out == nullptr)                                                    \
            return E_NOINTERFACE;                                               \
        AddRef();                                                               \
        return S_OK;                                                            \
    }

class ClassObject final : public IWbemClassObject, private Counted {
public:
    explicit ClassObject(Item item) : Counted("IWbemClassObject"), item_(item) {}
    FAKE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
        Record("Get name=" + Narrow(name) + " flags=" + std::to_string(flags) +
               " vt-in=" + (value == nullptr ? std::string("null") : std::to_string(value->vt)) +
               " type=" + Pointer(type) + " flavor=" + Pointer(flavor));
        if (name == nullptr || std::wcscmp(name, L"DomainRole") != 0) {
            return WBEM_E_NOT_FOUND;
        }
        if (value == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        switch (item_.kind) {
            case ItemKind::RoleI2:
                value->vt = VT_I2;
                value->iVal = static_cast<SHORT>(item_.value);
                return WBEM_S_NO_ERROR;
            case ItemKind::GetFails:
                value->vt = VT_I4;
                value->lVal = 5;
                return static_cast<HRESULT>(item_.value);
            default:
                value->vt = VT_I4;
                value->lVal = item_.value;
                return WBEM_S_NO_ERROR;
        }
    }

    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR, LONG, VARIANT*, CIMTYPE) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR, LONG, VARIANT*, SAFEARRAY**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Next(LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG, IWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG, IWbemClassObject*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG, BSTR*, IWbemClassObject**, IWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR, IWbemQualifierSet**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR, BSTR*) override { return WBEM_E_NOT_SUPPORTED; }

private:
    void* Find(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IWbemClassObject)
            return static_cast<IWbemClassObject*>(this);
        return nullptr;
    }
    Item item_;
};

class Enumerator final : public IEnumWbemClassObject, private Counted {
public:
    explicit Enumerator(std::shared_ptr<const Script> script)
        : Counted("IEnumWbemClassObject"), script_(std::move(script)) {}
    FAKE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        Record("Next timeout=" + std::to_string(timeout) + " count=" + std::to_string(count));
        if (objects == nullptr || returned == nullptr || count == 0) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *returned = 0;
        objects[0] = nullptr;
        if (next_ >= script_->objects.size()) {
            return WBEM_S_FALSE;
        }
        const Item item = script_->objects[next_++];
        switch (item.kind) {
            case ItemKind::Timeout: return WBEM_S_TIMEDOUT;
            case ItemKind::Fails: return static_cast<HRESULT>(item.value);
            case ItemKind::None: return WBEM_S_NO_ERROR;
            default:
                objects[0] = new ClassObject(item);
                *returned = 1;
                return WBEM_S_NO_ERROR;
        }
    }

    HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Skip(LONG, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

private:
    void* Find(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IEnumWbemClassObject)
            return static_cast<IEnumWbemClassObject*>(this);
        return nullptr;
    }
    std::shared_ptr<const Script> script_;
    size_t next_ = 0;
};

// The proxy blanket is set through IClientSecurity, which a real services proxy carries.
class Services final : public IWbemServices, public IClientSecurity, private Counted {
public:
    explicit Services(std::shared_ptr<const Script> script) : Counted("IWbemServices"), script_(std::move(script)) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefImpl(); }
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseImpl(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IWbemServices) {
            *out = static_cast<IWbemServices*>(this);
        } else if (iid == IID_IClientSecurity) {
            *out = static_cast<IClientSecurity*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                        IEnumWbemClassObject** result) override {
        Record("ExecQuery language=" + Bstr(language) + " query=" + Bstr(query) + " flags=" + std::to_string(flags) +
               " context=" + Pointer(context));
        if (result == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *result = nullptr;
        if (FAILED(script_->query) || script_->query == kSucceedWithNull) {
            return script_->query == kSucceedWithNull ? static_cast<HRESULT>(WBEM_S_NO_ERROR) : script_->query;
        }
        *result = new Enumerator(script_);
        return WBEM_S_NO_ERROR;
    }

    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown* proxy, DWORD authnService, DWORD authzService, OLECHAR* principal,
                                         DWORD authnLevel, DWORD impersonationLevel, void* identity,
                                         DWORD capabilities) override {
        IUnknown* self = nullptr;
        QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self));
        IUnknown* given = nullptr;
        if (proxy != nullptr) {
            proxy->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&given));
        }
        const bool ours = given == self;
        self->Release();
        if (given != nullptr) {
            given->Release();
        }
        Record(std::string("SetBlanket proxy=") + (ours ? "services" : "other") +
               " authn=" + std::to_string(authnService) + " authz=" + std::to_string(authzService) +
               " principal=" + Narrow(principal) + " level=" + std::to_string(authnLevel) +
               " impersonation=" + std::to_string(impersonationLevel) + " identity=" + Pointer(identity) +
               " capabilities=" + std::to_string(capabilities));
        return script_->blanket;
    }
    HRESULT STDMETHODCALLTYPE QueryBlanket(IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**,
                                           DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyProxy(IUnknown*, IUnknown**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR, LONG, IWbemContext*, IWbemServices**,
                                            IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG, IWbemObjectSink**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE GetObject(const BSTR, LONG, IWbemContext*, IWbemClassObject**,
                                        IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR, LONG, IWbemContext*, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR, const BSTR, LONG, IWbemContext*,
                                                    IEnumWbemClassObject**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR, const BSTR, LONG, IWbemContext*,
                                                         IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                         IWbemClassObject**, IWbemCallResult**) override {
        return WBEM_E_NOT_SUPPORTED;
    }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*,
                                              IWbemObjectSink*) override {
        return WBEM_E_NOT_SUPPORTED;
    }

private:
    std::shared_ptr<const Script> script_;
};

class Locator final : public IWbemLocator, private Counted {
public:
    explicit Locator(std::shared_ptr<const Script> script) : Counted("IWbemLocator"), script_(std::move(script)) {}
    FAKE_IUNKNOWN

    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG securityFlags, const BSTR authority,
                                            IWbemContext* context, IWbemServices** services) override {
        Record("ConnectServer namespace=" + Bstr(resource) + " user=" + Bstr(user) + " password=" + Bstr(password) +
               " locale=" + Bstr(locale) + " flags=" + std::to_string(securityFlags) + " authority=" + Bstr(authority) +
               " context=" + Pointer(context));
        if (services == nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *services = nullptr;
        if (FAILED(script_->connect) || script_->connect == kSucceedWithNull) {
            return script_->connect == kSucceedWithNull ? static_cast<HRESULT>(WBEM_S_NO_ERROR) : script_->connect;
        }
        *services = new Services(script_);
        return WBEM_S_NO_ERROR;
    }

private:
    void* Find(REFIID iid) {
        if (iid == IID_IUnknown || iid == IID_IWbemLocator)
            return static_cast<IWbemLocator*>(this);
        return nullptr;
    }
    std::shared_ptr<const Script> script_;
};

class ClassFactory final : public IClassFactory {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr)
            return E_POINTER;
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        Record("CreateInstance outer=" + Pointer(outer) + " iid=" + IidName(iid));
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        const auto script = ReadScript();
        if (FAILED(script->create) || script->create == kSucceedWithNull) {
            return script->create == kSucceedWithNull ? S_OK : script->create;
        }
        Locator* locator = new Locator(script);
        const HRESULT hr = locator->QueryInterface(iid, out);
        locator->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ::InterlockedIncrement(&g_serverLocks);
        } else {
            ::InterlockedDecrement(&g_serverLocks);
        }
        return S_OK;
    }
};

ClassFactory g_factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (clsid != CLSID_WbemLocator) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return g_liveObjects == 0 && g_serverLocks == 0 ? S_OK : S_FALSE;
}
