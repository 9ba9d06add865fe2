#include "fake_exchange.h"

#include <gtest/gtest.h>

#include "support/process.h"
#include "support/registry.h"

namespace ExchangeTests {

const wchar_t* const kRoots[4] = {
    L"SOFTWARE\\Microsoft\\Exchange",
    L"SOFTWARE\\Microsoft\\Exchange\\v8.0",
    L"SOFTWARE\\Microsoft\\ExchangeServer\\v14",
    L"SOFTWARE\\Microsoft\\ExchangeServer\\v15",
};

namespace {

// The build names each stand-in after its version, with "_" for ".".
std::wstring FakeLibraryPath(const wchar_t* fileVersion) {
    std::wstring suffix = fileVersion;
    for (wchar_t& c : suffix) {
        if (c == L'.') {
            c = L'_';
        }
    }
    return TestSupport::ModuleDirectory() + L"fake_ese_" + suffix + L".dll";
}

}  // namespace

std::wstring InstallWithoutEse(const TestSupport::TempDir& dir, const std::wstring& folder) {
    const std::wstring installPath = dir.path() + folder;
    EXPECT_TRUE(::CreateDirectoryW(installPath.c_str(), nullptr)) << ::GetLastError();
    EXPECT_TRUE(::CreateDirectoryW((installPath + L"\\bin").c_str(), nullptr)) << ::GetLastError();
    return installPath;
}

std::wstring InstallEse(const TestSupport::TempDir& dir, const std::wstring& folder, const wchar_t* fileVersion) {
    const std::wstring installPath = InstallWithoutEse(dir, folder);
    const std::wstring source = FakeLibraryPath(fileVersion);
    EXPECT_TRUE(::CopyFileW(source.c_str(), (installPath + L"\\bin\\ese.dll").c_str(), TRUE))
        << "copy of " << testing::PrintToString(source) << " failed: " << ::GetLastError();
    return installPath;
}

void SetRawValue(HKEY key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    ASSERT_EQ(::RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
}

bool NoExchangeKeys() {
    for (const wchar_t* root : kRoots) {
        if (TestSupport::RegistryKeyExists(root, KEY_WOW64_64KEY)) {
            return false;
        }
    }
    return true;
}

}  // namespace ExchangeTests
