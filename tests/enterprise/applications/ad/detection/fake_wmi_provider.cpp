// A stand-in for the WMI locator that the tests register under the WbemLocator class id.
// HOSTPROBE_FAKE_WMI says how it answers, as "key=value;...": create, connect, blanket and query
// give the HRESULT (hex) that step fails with, or "null" for a success without an object;
// objects lists what successive Next calls return: a DomainRole, "get" (an object whose Get
// fails), "timeout", "fail:<hr>" or "none" (no object), and WBEM_S_FALSE after the last.
// Arguments other than the detector's make a call fail. When the library goes, one letter per
// object, in the order of their final release, is written to the file HOSTPROBE_FAKE_WMI_LOG.

#include <objbase.h>
#include <wbemcli.h>
#include <windows.h>

#include <cwchar>
#include <sstream>
#include <string>

#define NOT_IMPLEMENTED(method, ...)                         \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { \
        return E_NOTIMPL;                                    \
    }

namespace {

// Plain storage: it must outlive the library's own static destructors.
char g_released[64];
size_t g_releasedCount = 0;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    return std::wstring(value, length < 1024 ? length : 0);
}

std::wstring Setting(const std::wstring& key) {
    const std::wstring scenario = L";" + Environment(L"HOSTPROBE_FAKE_WMI") + L";";
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

bool IsBstr(BSTR text, const wchar_t* expected) {
    return text != nullptr && std::wcscmp(text, expected) == 0 && ::SysStringLen(text) == std::wcslen(expected);
}

template <typename Interface>
class Fake : public Interface {
public:
    explicit Fake(char letter) : letter_(letter) {}
    virtual ~Fake() {
        if (g_releasedCount < sizeof g_released) {
            g_released[g_releasedCount++] = letter_;
        }
    }
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
    char letter_;
    ULONG references_ = 1;
};

class ClassObject final : public Fake<IWbemClassObject> {
public:
    explicit ClassObject(const std::wstring& item) : Fake('O'), item_(item) {}
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
        if (std::wcscmp(name, L"DomainRole") != 0 || flags != 0 || type != nullptr || flavor != nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        // A failing read still leaves a domain controller's role behind.
        value->vt = VT_I4;
        value->lVal = item_ == L"get" ? 5 : std::wcstol(item_.c_str(), nullptr, 10);
        return item_ == L"get" ? WBEM_E_FAILED : WBEM_S_NO_ERROR;
    }
    NOT_IMPLEMENTED(GetQualifierSet, IWbemQualifierSet**);
    NOT_IMPLEMENTED(Put, LPCWSTR, LONG, VARIANT*, CIMTYPE);
    NOT_IMPLEMENTED(Delete, LPCWSTR);
    NOT_IMPLEMENTED(GetNames, LPCWSTR, LONG, VARIANT*, SAFEARRAY**);
    NOT_IMPLEMENTED(BeginEnumeration, LONG);
    NOT_IMPLEMENTED(Next, LONG, BSTR*, VARIANT*, CIMTYPE*, LONG*);
    NOT_IMPLEMENTED(EndEnumeration);
    NOT_IMPLEMENTED(GetPropertyQualifierSet, LPCWSTR, IWbemQualifierSet**);
    NOT_IMPLEMENTED(Clone, IWbemClassObject**);
    NOT_IMPLEMENTED(GetObjectText, LONG, BSTR*);
    NOT_IMPLEMENTED(SpawnDerivedClass, LONG, IWbemClassObject**);
    NOT_IMPLEMENTED(SpawnInstance, LONG, IWbemClassObject**);
    NOT_IMPLEMENTED(CompareTo, LONG, IWbemClassObject*);
    NOT_IMPLEMENTED(GetPropertyOrigin, LPCWSTR, BSTR*);
    NOT_IMPLEMENTED(InheritsFrom, LPCWSTR);
    NOT_IMPLEMENTED(GetMethod, LPCWSTR, LONG, IWbemClassObject**, IWbemClassObject**);
    NOT_IMPLEMENTED(PutMethod, LPCWSTR, LONG, IWbemClassObject*, IWbemClassObject*);
    NOT_IMPLEMENTED(DeleteMethod, LPCWSTR);
    NOT_IMPLEMENTED(BeginMethodEnumeration, LONG);
    NOT_IMPLEMENTED(NextMethod, LONG, BSTR*, IWbemClassObject**, IWbemClassObject**);
    NOT_IMPLEMENTED(EndMethodEnumeration);
    NOT_IMPLEMENTED(GetMethodQualifierSet, LPCWSTR, IWbemQualifierSet**);
    NOT_IMPLEMENTED(GetMethodOrigin, LPCWSTR, BSTR*);

private:
    std::wstring item_;
};

class Enumerator final : public Fake<IEnumWbemClassObject> {
public:
    Enumerator() : Fake('E'), items_(Setting(L"objects")) {}
    HRESULT STDMETHODCALLTYPE Next(LONG timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        if (timeout != 30000 || count != 1) {
            return WBEM_E_INVALID_PARAMETER;
        }
        *objects = nullptr;
        *returned = 0;
        std::wstring item;
        if (!std::getline(items_, item, L',')) {
            return WBEM_S_FALSE;
        }
        if (item == L"timeout") {
            return WBEM_S_TIMEDOUT;
        }
        if (item.rfind(L"fail:", 0) == 0) {
            return Hex(item.substr(5));
        }
        if (item != L"none") {
            *objects = new ClassObject(item);
            *returned = 1;
        }
        return WBEM_S_NO_ERROR;
    }
    NOT_IMPLEMENTED(Reset);
    NOT_IMPLEMENTED(NextAsync, ULONG, IWbemObjectSink*);
    NOT_IMPLEMENTED(Clone, IEnumWbemClassObject**);
    NOT_IMPLEMENTED(Skip, LONG, ULONG);

private:
    std::wistringstream items_;
};

// CoSetProxyBlanket reaches the services through IClientSecurity, as a real proxy carries it.
class Services final : public Fake<IWbemServices>, public IClientSecurity {
public:
    Services() : Fake('S') {}
    ULONG STDMETHODCALLTYPE AddRef() override { return Fake::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Fake::Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IClientSecurity) {
            return Fake::QueryInterface(iid, out);
        }
        *out = static_cast<IClientSecurity*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetBlanket(IUnknown*, DWORD authn, DWORD authz, OLECHAR* principal, DWORD level,
                                         DWORD impersonation, void* identity, DWORD capabilities) override {
        if (authn != RPC_C_AUTHN_WINNT || authz != RPC_C_AUTHZ_NONE || principal != nullptr ||
            level != RPC_C_AUTHN_LEVEL_CALL || impersonation != RPC_C_IMP_LEVEL_IMPERSONATE || identity != nullptr ||
            capabilities != EOAC_NONE) {
            return E_INVALIDARG;
        }
        return Outcome(L"blanket");
    }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR language, const BSTR query, LONG flags, IWbemContext* context,
                                        IEnumWbemClassObject** result) override {
        if (!IsBstr(language, L"WQL") || !IsBstr(query, L"SELECT DomainRole FROM Win32_ComputerSystem") ||
            flags != (WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY) || context != nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        const HRESULT hr = Outcome(L"query");
        *result = hr == S_OK ? new Enumerator : nullptr;
        return hr == S_FALSE ? S_OK : hr;
    }
    NOT_IMPLEMENTED(QueryBlanket, IUnknown*, DWORD*, DWORD*, OLECHAR**, DWORD*, DWORD*, void**, DWORD*);
    NOT_IMPLEMENTED(CopyProxy, IUnknown*, IUnknown**);
    NOT_IMPLEMENTED(OpenNamespace, const BSTR, LONG, IWbemContext*, IWbemServices**, IWbemCallResult**);
    NOT_IMPLEMENTED(CancelAsyncCall, IWbemObjectSink*);
    NOT_IMPLEMENTED(QueryObjectSink, LONG, IWbemObjectSink**);
    NOT_IMPLEMENTED(GetObject, const BSTR, LONG, IWbemContext*, IWbemClassObject**, IWbemCallResult**);
    NOT_IMPLEMENTED(GetObjectAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(PutClass, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**);
    NOT_IMPLEMENTED(PutClassAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(DeleteClass, const BSTR, LONG, IWbemContext*, IWbemCallResult**);
    NOT_IMPLEMENTED(DeleteClassAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(CreateClassEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**);
    NOT_IMPLEMENTED(CreateClassEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(PutInstance, IWbemClassObject*, LONG, IWbemContext*, IWbemCallResult**);
    NOT_IMPLEMENTED(PutInstanceAsync, IWbemClassObject*, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(DeleteInstance, const BSTR, LONG, IWbemContext*, IWbemCallResult**);
    NOT_IMPLEMENTED(DeleteInstanceAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(CreateInstanceEnum, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**);
    NOT_IMPLEMENTED(CreateInstanceEnumAsync, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(ExecQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(ExecNotificationQuery, const BSTR, const BSTR, LONG, IWbemContext*, IEnumWbemClassObject**);
    NOT_IMPLEMENTED(ExecNotificationQueryAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemObjectSink*);
    NOT_IMPLEMENTED(ExecMethod, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemClassObject**,
                    IWbemCallResult**);
    NOT_IMPLEMENTED(ExecMethodAsync, const BSTR, const BSTR, LONG, IWbemContext*, IWbemClassObject*, IWbemObjectSink*);
};

class Locator final : public Fake<IWbemLocator> {
public:
    Locator() : Fake('L') {}
    HRESULT STDMETHODCALLTYPE ConnectServer(const BSTR resource, const BSTR user, const BSTR password,
                                            const BSTR locale, LONG flags, const BSTR authority, IWbemContext* context,
                                            IWbemServices** services) override {
        if (!IsBstr(resource, L"ROOT\\CIMV2") || user != nullptr || password != nullptr || locale != nullptr ||
            flags != 0 || authority != nullptr || context != nullptr) {
            return WBEM_E_INVALID_PARAMETER;
        }
        const HRESULT hr = Outcome(L"connect");
        *services = hr == S_OK ? new Services : nullptr;
        return hr == S_FALSE ? S_OK : hr;
    }
};

class Factory final : public IClassFactory {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
        return *out != nullptr ? S_OK : E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (outer != nullptr || iid != IID_IWbemLocator) {
            return E_INVALIDARG;
        }
        const HRESULT hr = Outcome(L"create");
        *out = hr == S_OK ? static_cast<IWbemLocator*>(new Locator) : nullptr;
        return hr == S_FALSE ? S_OK : hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    static Factory factory;
    return clsid == CLSID_WbemLocator ? factory.QueryInterface(iid, out) : CLASS_E_CLASSNOTAVAILABLE;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    const std::wstring path = reason == DLL_PROCESS_DETACH ? Environment(L"HOSTPROBE_FAKE_WMI_LOG") : L"";
    if (!path.empty()) {
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        ::WriteFile(file, g_released, static_cast<DWORD>(g_releasedCount), &written, nullptr);
        ::CloseHandle(file);
    }
    return TRUE;
}
