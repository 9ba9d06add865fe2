// The system calls of one hostprobe run and nothing else: the registry opens of the SQL Server
// and Exchange detectors, the WMI domain-role query, loading vssapi.dll and calling its
// creation function. The floor that hostprobe's own run is measured against.

#include <objbase.h>
#include <wbemcli.h>
#include <windows.h>

#include <cstdio>
#include <initializer_list>

namespace {

void OpenAndClose(const wchar_t* path, REGSAM view) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | view, &key) == ERROR_SUCCESS) {
        DWORD values = 0;
        DWORD longest = 0;
        ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, &longest, nullptr,
                           nullptr, nullptr);
        ::RegCloseKey(key);
    }
}

void QueryDomainRole() {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_NONE, nullptr);
    IWbemLocator* locator = nullptr;
    if (SUCCEEDED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                     reinterpret_cast<void**>(&locator)))) {
        IWbemServices* services = nullptr;
        BSTR space = ::SysAllocString(L"ROOT\\CIMV2");
        if (SUCCEEDED(locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services))) {
            ::CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
            BSTR language = ::SysAllocString(L"WQL");
            BSTR query = ::SysAllocString(L"SELECT DomainRole FROM Win32_ComputerSystem");
            IEnumWbemClassObject* enumerator = nullptr;
            if (SUCCEEDED(services->ExecQuery(language, query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                              nullptr, &enumerator))) {
                IWbemClassObject* object = nullptr;
                ULONG returned = 0;
                while (enumerator->Next(30000, 1, &object, &returned) == S_OK && returned == 1) {
                    VARIANT role;
                    ::VariantInit(&role);
                    object->Get(L"DomainRole", 0, &role, nullptr, nullptr);
                    ::VariantClear(&role);
                    object->Release();
                }
                enumerator->Release();
            }
            ::SysFreeString(query);
            ::SysFreeString(language);
            services->Release();
        }
        ::SysFreeString(space);
        locator->Release();
    }
    if (SUCCEEDED(init)) {
        ::CoUninitialize();
    }
}

void CreateBackupComponents() {
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (HMODULE vssapi = ::LoadLibraryW(L"vssapi.dll")) {
        using Create = HRESULT(STDAPICALLTYPE*)(IUnknown**);
        if (auto create = reinterpret_cast<Create>(
                reinterpret_cast<void (*)()>(::GetProcAddress(vssapi, "CreateVssBackupComponentsInternal")))) {
            IUnknown* components = nullptr;
            if (SUCCEEDED(create(&components)) && components != nullptr) {
                components->Release();
            }
        }
        ::FreeLibrary(vssapi);
    }
    if (SUCCEEDED(init)) {
        ::CoUninitialize();
    }
}

}  // namespace

int main() {
    OpenAndClose(L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL", KEY_WOW64_64KEY);
    OpenAndClose(L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL", KEY_WOW64_32KEY);
    for (const wchar_t* root :
         {L"SOFTWARE\\Microsoft\\Exchange\\Setup", L"SOFTWARE\\Microsoft\\Exchange\\v8.0\\Setup",
          L"SOFTWARE\\Microsoft\\ExchangeServer\\v14\\Setup", L"SOFTWARE\\Microsoft\\ExchangeServer\\v15\\Setup"}) {
        OpenAndClose(root, KEY_WOW64_64KEY);
    }
    QueryDomainRole();
    CreateBackupComponents();
    std::puts("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    return 0;
}
