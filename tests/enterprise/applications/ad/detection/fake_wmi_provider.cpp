// A stand-in for the WMI locator that the tests register under the WbemLocator class id.
// HOSTPROBE_FAKE_WMI says how it answers: create, connect, blanket and query give the HRESULT
// (hex) that step fails with, or "null" for a success without an object; bstr=fail makes the
// first allocation of the task allocator after the locator's creation fail; objects lists what
// successive Next calls return: a DomainRole, "<vt>:<value>" (a DomainRole of that variant type,
// decimal: a BSTR holds the text, an IUnknown or IDispatch holds an object logged as U, any
// other type holds the value's 64 bits), "get" (an object whose Get fails), "timeout",
// "fail:<hr>" or "none" (no object), and WBEM_S_FALSE after the last. Arguments other than the
// detector's make a call fail. Objects are logged as L(ocator), S(ervices), E(numerator) and
// O(bject).

#include <wbemcli.h>

#include <utility>

#include "tests/enterprise/fake_com.h"

using namespace FakeCom;

const wchar_t FakeCom::kScenario[] = L"HOSTPROBE_FAKE_WMI";

namespace {

bool IsBstr(BSTR text, const wchar_t* expected) {
    return text != nullptr && std::wcscmp(text, expected) == 0 && ::SysStringLen(text) == std::wcslen(expected);
}

const auto kUnknown = Vtable<IUnknownVtbl>([](auto&) {});

HRESULT STDMETHODCALLTYPE Get(IWbemClassObject* self, LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type,
                              LONG* flavor) {
    if (std::wcscmp(name, L"DomainRole") != 0 || flags != 0 || type != nullptr || flavor != nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    // A failing read still leaves a domain controller's role behind.
    const std::wstring& item = Of(self).items[0];
    const size_t colon = item.find(L':');
    if (colon == std::wstring::npos) {
        value->vt = VT_I4;
        value->lVal = item == L"get" ? 5 : std::wcstol(item.c_str(), nullptr, 10);
        return item == L"get" ? WBEM_E_FAILED : WBEM_S_NO_ERROR;
    }
    const std::wstring text = item.substr(colon + 1);
    value->vt = static_cast<VARTYPE>(std::wcstoul(item.c_str(), nullptr, 10));
    if (value->vt == VT_BSTR) {
        value->bstrVal = ::SysAllocString(text.c_str());
    } else if (value->vt == VT_UNKNOWN || value->vt == VT_DISPATCH) {
        value->punkVal = New<IUnknown>(&kUnknown, IID_IUnknown, 'U');
    } else {
        value->llVal = static_cast<LONGLONG>(std::wcstoull(text.c_str(), nullptr, 10));
    }
    return WBEM_S_NO_ERROR;
}
const auto kObject = Vtable<IWbemClassObjectVtbl>([](auto& t) { t.Get = &Get; });

HRESULT STDMETHODCALLTYPE Next(IEnumWbemClassObject* self, LONG timeout, ULONG count, IWbemClassObject** objects,
                               ULONG* returned) {
    if (timeout != 30000 || count != 1) {
        return WBEM_E_INVALID_PARAMETER;
    }
    *objects = nullptr;
    *returned = 0;
    Object& enumerator = Of(self);
    if (enumerator.next == enumerator.items.size()) {
        return WBEM_S_FALSE;
    }
    const std::wstring item = enumerator.items[enumerator.next++];
    if (item == L"timeout") {
        return WBEM_S_TIMEDOUT;
    }
    if (item.rfind(L"fail:", 0) == 0) {
        return Hex(item.substr(5));
    }
    if (item != L"none") {
        *objects = New<IWbemClassObject>(&kObject, IID_IWbemClassObject, 'O', {item});
        *returned = 1;
    }
    return WBEM_S_NO_ERROR;
}
const auto kEnumerator = Vtable<IEnumWbemClassObjectVtbl>([](auto& t) { t.Next = &Next; });

// CoSetProxyBlanket reaches the services through IClientSecurity, as a real proxy carries it.
HRESULT STDMETHODCALLTYPE SetBlanket(IClientSecurity*, IUnknown*, DWORD authn, DWORD authz, OLECHAR* principal,
                                     DWORD level, DWORD impersonation, void* identity, DWORD capabilities) {
    if (authn != RPC_C_AUTHN_WINNT || authz != RPC_C_AUTHZ_NONE || principal != nullptr ||
        level != RPC_C_AUTHN_LEVEL_CALL || impersonation != RPC_C_IMP_LEVEL_IMPERSONATE || identity != nullptr ||
        capabilities != EOAC_NONE) {
        return E_INVALIDARG;
    }
    return Hex(Setting(L"blanket"));
}
const auto kSecurity = Vtable<IClientSecurityVtbl>([](auto& t) { t.SetBlanket = &SetBlanket; });
Object g_security{&kSecurity, &IID_IClientSecurity, '-', {}};

HRESULT STDMETHODCALLTYPE ServicesQueryInterface(IWbemServices* self, REFIID iid, void** out) {
    return Object::QueryInterface(iid == IID_IClientSecurity ? &g_security : &Of(self), iid, out);
}
HRESULT STDMETHODCALLTYPE ExecQuery(IWbemServices*, const BSTR language, const BSTR query, LONG flags,
                                    IWbemContext* context, IEnumWbemClassObject** result) {
    if (!IsBstr(language, L"WQL") || !IsBstr(query, L"SELECT DomainRole FROM Win32_ComputerSystem") ||
        flags != (WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY) || context != nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    return Make(L"query", result, &kEnumerator, IID_IEnumWbemClassObject, 'E', Split(Setting(L"objects"), L','));
}
const auto kServices = Vtable<IWbemServicesVtbl>([](auto& t) {
    t.QueryInterface = &ServicesQueryInterface;
    t.ExecQuery = &ExecQuery;
});

HRESULT STDMETHODCALLTYPE ConnectServer(IWbemLocator*, const BSTR resource, const BSTR user, const BSTR password,
                                        const BSTR locale, LONG flags, const BSTR authority, IWbemContext* context,
                                        IWbemServices** services) {
    if (!IsBstr(resource, L"ROOT\\CIMV2") || user != nullptr || password != nullptr || locale != nullptr ||
        flags != 0 || authority != nullptr || context != nullptr) {
        return WBEM_E_INVALID_PARAMETER;
    }
    return Make(L"connect", services, &kServices, IID_IWbemServices, 'S');
}
const auto kLocator = Vtable<IWbemLocatorVtbl>([](auto& t) { t.ConnectServer = &ConnectServer; });

// Watches the task allocator, through which BSTRs are allocated, and fails one allocation.
bool g_failNextAllocation = false;
const auto kSpy = Vtable<IMallocSpyVtbl>([](auto& t) {
    t.PreAlloc = [](IMallocSpy*, SIZE_T size) { return size; };
    t.PostAlloc = [](IMallocSpy*, void* block) -> void* {
        // The block itself is lost: the detector does not outlive the failure.
        return std::exchange(g_failNextAllocation, false) ? nullptr : block;
    };
    t.PreFree = [](IMallocSpy*, void* block, BOOL) { return block; };
    t.PostFree = [](IMallocSpy*, BOOL) {};
    t.PreRealloc = [](IMallocSpy*, void* block, SIZE_T size, void** out, BOOL) {
        *out = block;
        return size;
    };
    t.PostRealloc = [](IMallocSpy*, void* block, BOOL) { return block; };
    t.PreGetSize = [](IMallocSpy*, void* block, BOOL) { return block; };
    t.PostGetSize = [](IMallocSpy*, SIZE_T size, BOOL) { return size; };
    t.PreDidAlloc = [](IMallocSpy*, void* block, BOOL) { return block; };
    t.PostDidAlloc = [](IMallocSpy*, void*, BOOL, int allocated) { return allocated; };
    t.PreHeapMinimize = [](IMallocSpy*) {};
    t.PostHeapMinimize = [](IMallocSpy*) {};
});
Object g_spy{&kSpy, &IID_IMallocSpy, '-', {}};

HRESULT STDMETHODCALLTYPE CreateInstance(IClassFactory*, IUnknown* outer, REFIID iid, void** out) {
    if (outer != nullptr || iid != IID_IWbemLocator) {
        return E_INVALIDARG;
    }
    if (Setting(L"bstr") == L"fail" && SUCCEEDED(::CoRegisterMallocSpy(reinterpret_cast<IMallocSpy*>(&g_spy)))) {
        g_failNextAllocation = true;
    }
    return Make(L"create", reinterpret_cast<IWbemLocator**>(out), &kLocator, IID_IWbemLocator, 'L');
}
const auto kFactory = Vtable<IClassFactoryVtbl>([](auto& t) { t.CreateInstance = &CreateInstance; });
Object g_factory{&kFactory, &IID_IClassFactory, '-', {}};

}  // namespace

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
    return clsid == CLSID_WbemLocator ? Object::QueryInterface(&g_factory, iid, out) : CLASS_E_CLASSNOTAVAILABLE;
}
