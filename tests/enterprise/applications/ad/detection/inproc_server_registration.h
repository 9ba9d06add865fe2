#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace AdTest {

// One registry value as it was found: absent, or its type and raw data.
struct RegistryValue {
    bool present = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    bool operator==(const RegistryValue& other) const {
        return present == other.present && type == other.type && data == other.data;
    }
};

// Reads a value of HKLM\<path> in one registry view; absent when the key or value is missing.
RegistryValue ReadRegistryValue(const std::wstring& path, const wchar_t* name, REGSAM view);

// The in-process server key of a class in the 64-bit registry view.
std::wstring InprocServerKey(const std::wstring& clsid);

// Points a class id of the 64-bit registry view at another in-process server DLL (threading
// model "Both") for the lifetime of the object, and then puts back exactly what was there.
//
// The original server is also kept in a value of its own beside the one it replaces: when a
// test run dies before the destructor, the next guard takes the original from there.
class ScopedInprocServer {
public:
    ScopedInprocServer(const std::wstring& clsid, const std::wstring& dllPath);
    ~ScopedInprocServer();
    ScopedInprocServer(const ScopedInprocServer&) = delete;
    ScopedInprocServer& operator=(const ScopedInprocServer&) = delete;

    // Leaves the registration in place, as a test run that dies would (for testing recovery).
    void Abandon() { abandoned_ = true; }

    // Puts back the server that a guard of a test run that died left replaced, if any.
    static void RecoverAbandoned(const std::wstring& clsid);

    static constexpr wchar_t kBackupValue[] = L"HostprobeTestOriginalServer";

private:
    void Restore();

    std::wstring keyPath_;
    bool createdKey_ = false;
    bool abandoned_ = false;
    RegistryValue server_;
    RegistryValue threadingModel_;
};

}  // namespace AdTest
