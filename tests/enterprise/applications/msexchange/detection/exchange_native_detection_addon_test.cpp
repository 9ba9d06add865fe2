#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/common/utf.h"
#include "driver/run_detection.h"
#include "enterprise/core/addons/app_ids.h"
#include "support/log_capture.h"
#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

const char* const kRoots[] = {"SOFTWARE\\Microsoft\\Exchange", "SOFTWARE\\Microsoft\\Exchange\\v8.0",
                              "SOFTWARE\\Microsoft\\ExchangeServer\\v14", "SOFTWARE\\Microsoft\\ExchangeServer\\v15"};
// An install folder without ese.dll, named so that a logged path must keep every character.
const std::wstring kNoLibrary = L"Caf\u00e9 \u0416\u0443\u043a \U0001F600";
constexpr DWORD kRaw = 0x10000;  // stored without the terminator that strings get otherwise

// Messages as the capture shows them, with the function that logs them.
std::string Line(const std::string& text, const char* function) {
    return text.substr(0, 1) + "00000000: [Exchange Native] " + text.substr(1) +
           " MsExchange::NativeDetectionAddon::" + function + "()";
}
std::string SetupMissing(int root) {
    return Line("WFailed to open registry key: " + std::string(kRoots[root]) + "\\Setup (error=2)",
                "GetExchangeVersionFromSetupKey");
}
std::string NoInstallPath(int root) {
    return Line("DNo install path found in registry key: " + std::string(kRoots[root]) + "\\Setup",
                "GetExchangeVersionFromSetupKey");
}
std::string NoLibrary(const char* separator) {
    return Line("WFailed to read ese.dll version from: {dir}" + Common::Utf16ToUtf8(kNoLibrary) + separator +
                    "bin\\ese.dll (GetLastError=2)",
                "GetExchangeVersionFromSetupKey");
}
std::string MailboxMissing(int root) {
    return Line("WFailed to open mailbox role registry key: " + std::string(kRoots[root]) + "\\MailboxRole (error=2)",
                "GetMailboxRoleVersion");
}
std::string NoMailboxVersion(int root) {
    return Line("DNo mailbox version found in registry key: " + std::string(kRoots[root]) + "\\MailboxRole",
                "GetMailboxRoleVersion");
}
const std::string kDetected = Line("IMicrosoft Exchange detected", "GetMachineInstalledApplications");
const std::string kNotDetected = Line("IMicrosoft Exchange not detected", "GetMachineInstalledApplications");
const Lines kFirstThreeMissing = {SetupMissing(0), SetupMissing(1), SetupMissing(2)};

Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Value {
    const wchar_t* name;
    DWORD type;         // with kRaw: the data as it is, no terminator added
    std::wstring data;  // "{dir}" stands for the test's folder
};
struct Key {
    int root;
    const wchar_t* subKey;
    std::vector<Value> values;
    REGSAM view = KEY_WOW64_64KEY;
};
Key SetupKey(int root, std::vector<Value> values) {
    return {root, L"\\Setup", values};
}
Key MailboxKey(int root, std::vector<Value> values) {
    return {root, L"\\MailboxRole", values};
}
Value Msi(const wchar_t* path) {
    return {L"MsiInstallPath", REG_SZ, path};
}
Value Configured(const std::wstring& version) {
    return {L"ConfiguredVersion", REG_SZ, version};
}

// A message as it reaches the report: the logging back-end widens the formatted line byte by
// byte, so a path's UTF-8 arrives encoded twice, every character still recoverable.
std::string AsReported(std::string text, const std::wstring& dir) {
    const size_t at = text.find("{dir}");
    if (at != std::string::npos) {
        text.replace(at, 5, Common::Utf16ToUtf8(dir));
    }
    std::wstring wide;
    for (const unsigned char c : text) {
        wide.push_back(c);
    }
    return Common::Utf16ToUtf8(wide);
}

class ExchangeDetection : public ::testing::Test {
protected:
    void SetUp() override {
        // Stand-ins for ese.dll with real version resources, built beside the test program.
        for (const wchar_t* version : {L"15_1_2507_6", L"14_3_123_4", L""}) {
            const std::wstring folder = dir.path() + (*version ? L"e" + std::wstring(version, 2) : kNoLibrary);
            ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr) &&
                        ::CreateDirectoryW((folder + L"\\bin").c_str(), nullptr));
            ASSERT_TRUE(!*version ||
                        ::CopyFileW((TestSupport::ModuleDirectory() + L"fake_ese_" + version + L".dll").c_str(),
                                    (folder + L"\\bin\\ese.dll").c_str(), TRUE));
        }
    }

    void Check(const char* what, const std::vector<Key>& keys, bool detected, const Lines& expectedLines) {
        SCOPED_TRACE(what);
        for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            ASSERT_FALSE(TestSupport::RegistryKeyExists(L"SOFTWARE\\Microsoft\\Exchange", view) ||
                         TestSupport::RegistryKeyExists(L"SOFTWARE\\Microsoft\\ExchangeServer", view))
                << "prefix not clean";
        }
        std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> created;
        for (const Key& key : keys) {
            created.push_back(std::make_unique<TestSupport::ScopedRegistryKey>(
                TestSupport::Widen(kRoots[key.root]) + key.subKey, key.view));
            for (const Value& value : key.values) {
                std::wstring units = value.data;
                const size_t at = units.find(L"{dir}");
                if (at != std::wstring::npos) {
                    units.replace(at, 5, dir.path());
                }
                const DWORD type = value.type & ~kRaw;
                if (!(value.type & kRaw) && (type == REG_SZ || type == REG_EXPAND_SZ)) {
                    units += L'\0';
                }
                // The registry adds the terminator a count leaves out when the unit after the
                // data is NUL, so that unit must not be one.
                units += L'#';
                ASSERT_EQ(::RegSetValueExW(created.back()->get(), value.name, 0, type,
                                           reinterpret_cast<const BYTE*>(units.data()),
                                           static_cast<DWORD>((units.size() - 1) * sizeof(wchar_t))),
                          ERROR_SUCCESS);
            }
        }
        Lines expected;
        for (const std::string& line : expectedLines) {
            expected.push_back(AsReported(line, dir.path()));
        }
        MachineManagement::InstalledApplications applications;
        if (detected) {
            applications.emplace(Core::ExchangeAppId, L"");
        }
        {
            TestSupport::LogCapture log("", Logging::DEBUG_TRACE, 0x1004F4);  // with the function
            EXPECT_EQ(MsExchange::NativeDetectionAddon().GetMachineInstalledApplications(), applications);
            EXPECT_EQ(log.Texts(), expected);
        }
        // The report of the same machine shows every detector's messages as logged in-process.
        TestSupport::LogCapture all;
        Hostprobe::RunDetection(nullptr);
        const auto r = TestSupport::RunHostprobe({});
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, detected ? "9127E80B-C6C3-4bbf-817D-517E4CE428FC\r\n" : "");
        EXPECT_EQ(r.err, TestSupport::ReportLogLines(all.Texts()));
    }

    TestSupport::TempDir dir;
};

TEST_F(ExchangeDetection, MajorVersionsOfTheLibraryAndTheMailboxRoleMustAgree) {
    Check("nothing installed", {}, false, kFirstThreeMissing + Lines{SetupMissing(3), kNotDetected});
    Check("15.1.2507.6 and 15.1.2507.6", {SetupKey(3, {Msi(L"{dir}e15")}), MailboxKey(3, {Configured(L"15.1.2507.6")})},
          true, kFirstThreeMissing + Lines{kDetected});
    Check("14.3.123.4 and 15.0.1", {SetupKey(3, {Msi(L"{dir}e14")}), MailboxKey(3, {Configured(L"15.0.1")})}, false,
          kFirstThreeMissing + Lines{kNotDetected});
    Check("keys in the 32-bit view only",
          {{3, L"\\Setup", {Msi(L"{dir}e15")}, KEY_WOW64_32KEY},
           {3, L"\\MailboxRole", {Configured(L"15.1")}, KEY_WOW64_32KEY}},
          false, kFirstThreeMissing + Lines{SetupMissing(3), kNotDetected});
}

TEST_F(ExchangeDetection, InstallPathFromServicesThenMsiInstallPathWithOneSeparatorBeforeBin) {
    const Lines detected = kFirstThreeMissing + Lines{kDetected};
    const Key mailbox = MailboxKey(3, {Configured(L"15.1")});
    Check("Services first", {SetupKey(3, {{L"Services", REG_SZ, L"{dir}e15"}, Msi(L"{dir}e14")}), mailbox}, true,
          detected);
    Check("empty Services", {SetupKey(3, {{L"Services", REG_SZ, L""}, Msi(L"{dir}e15")}), mailbox}, true, detected);
    Check("expandable Services", {SetupKey(3, {{L"Services", REG_EXPAND_SZ, L"{dir}e14"}, Msi(L"{dir}e15")}), mailbox},
          true, detected);
    Check("Services without terminator", {SetupKey(3, {{L"Services", REG_SZ | kRaw, L"{dir}e15"}}), mailbox}, true,
          detected);
    Check("trailing backslash", {SetupKey(3, {Msi(L"{dir}e15\\")}), mailbox}, true, detected);
    Check("trailing slash", {SetupKey(3, {Msi(L"{dir}e15/")}), mailbox}, true, detected);
    const std::wstring noLibrary = L"{dir}" + kNoLibrary;
    for (const auto& [suffix, separator] :
         {std::make_pair(L"", "\\"), std::make_pair(L"\\", "\\"), std::make_pair(L"/", "/")}) {
        Check("no library", {SetupKey(3, {Msi((noLibrary + suffix).c_str())}), mailbox}, false,
              kFirstThreeMissing + Lines{NoLibrary(separator), kNotDetected});
    }
    Check("no install path", {SetupKey(3, {{L"Services", REG_DWORD | kRaw, L"\x000F\x0000"}}), mailbox}, false,
          kFirstThreeMissing + Lines{NoInstallPath(3), kNotDetected});
}

TEST_F(ExchangeDetection, MailboxVersionFromConfiguredThenUnpackedVersionInSixtyFourUnits) {
    const Lines detected = kFirstThreeMissing + Lines{kDetected};
    const Key setup = SetupKey(3, {Msi(L"{dir}e15")});
    const std::wstring units64 = L"15" + std::wstring(62, L'.');
    const Value unpacked{L"UnpackedVersion", REG_SZ, L"15.0.847.32"};
    Check("Configured first", {setup, MailboxKey(3, {Configured(L"15.1"), {L"UnpackedVersion", REG_SZ, L"14.0"}})},
          true, detected);
    Check("empty Configured", {setup, MailboxKey(3, {Configured(L""), unpacked})}, true, detected);
    Check("expandable Configured", {setup, MailboxKey(3, {{L"ConfiguredVersion", REG_EXPAND_SZ, L"14.0"}, unpacked})},
          true, detected);
    Check("embedded NUL",
          {setup, MailboxKey(3, {{L"ConfiguredVersion", REG_SZ | kRaw, std::wstring(L"15\0junk\0", 8)}})}, true,
          detected);
    Check("64 units without terminator", {setup, MailboxKey(3, {{L"ConfiguredVersion", REG_SZ | kRaw, units64}})}, true,
          detected);
    Check("64 units and a terminator", {setup, MailboxKey(3, {Configured(units64)})}, false,
          kFirstThreeMissing + Lines{NoMailboxVersion(3), kNotDetected});
}

TEST_F(ExchangeDetection, RootsAreProbedInOrderUntilTheFirstMatch) {
    Check(
        "missing MailboxRole",
        {SetupKey(0, {Msi(L"{dir}e15")}), SetupKey(1, {Msi(L"{dir}e15")}), MailboxKey(1, {Configured(L"15.2.1118.7")})},
        true, {MailboxMissing(0), kDetected});
    Check("first root matches",
          {SetupKey(0, {Msi(L"{dir}e15")}), MailboxKey(0, {Configured(L"15.1")}), SetupKey(2, {})}, true, {kDetected});
}

}  // namespace
