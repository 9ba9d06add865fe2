#include "support/registry.h"

#include <gtest/gtest.h>

namespace TestSupport {

static bool OpenKey(const std::wstring& path, REGSAM access, Common::UniqueHkey& key) {
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, key.put()) == ERROR_SUCCESS) {
        return true;
    }
    key.release();  // a failed open leaves no handle to close
    return false;
}

bool RegistryKeyExists(const std::wstring& path, REGSAM view) {
    Common::UniqueHkey key;
    return OpenKey(path, KEY_READ | view, key);
}

ScopedRegistryKey::ScopedRegistryKey(const std::wstring& path, REGSAM view) : view_(view) {
    // The outermost missing component, so that cleanup removes exactly what we added.
    for (size_t pos = 0; pos != std::wstring::npos && createdRoot_.empty();) {
        pos = path.find(L'\\', pos + 1);
        if (!RegistryKeyExists(path.substr(0, pos), view)) {
            createdRoot_ = path.substr(0, pos);
        }
    }
    const LONG rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                                      key_.put(), nullptr);
    if (rc != ERROR_SUCCESS) {
        ADD_FAILURE() << "RegCreateKeyExW failed: " << rc;
        key_.release();
    }
}

ScopedRegistryKey::~ScopedRegistryKey() {
    key_.reset();
    const size_t slash = createdRoot_.find_last_of(L'\\');
    Common::UniqueHkey parent;  // a key that existed before is left alone
    if (!createdRoot_.empty() &&
        OpenKey(slash == std::wstring::npos ? L"" : createdRoot_.substr(0, slash), KEY_ALL_ACCESS | view_, parent)) {
        EXPECT_EQ(::RegDeleteTreeW(parent.get(), createdRoot_.substr(slash + 1).c_str()), ERROR_SUCCESS);
    }
}

void ScopedRegistryKey::Set(const std::wstring& name, DWORD type, const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    ASSERT_EQ(::RegSetValueExW(key_.get(), name.c_str(), 0, type, bytes, static_cast<DWORD>(size)), ERROR_SUCCESS);
}

}  // namespace TestSupport
