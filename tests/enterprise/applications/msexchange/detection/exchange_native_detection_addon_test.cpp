// The Exchange detector against registry keys the test writes and stand-ins for ese.dll with
// real version resources.

#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "core/common/utf.h"
#include "support/registry.h"
#include "support/temp_dir.h"
#include "tests/enterprise/detection_test.h"

namespace {

using DetectionTest::Lines;
using DetectionTest::operator+;

const std::string kExchangeId = "9127E80B-C6C3-4bbf-817D-517E4CE428FC";
const std::string kRoots[] = {"SOFTWARE\\Microsoft\\Exchange", "SOFTWARE\\Microsoft\\Exchange\\v8.0",
                              "SOFTWARE\\Microsoft\\ExchangeServer\\v14", "SOFTWARE\\Microsoft\\ExchangeServer\\v15"};
// An install folder without ese.dll, named so that a logged path must keep every character.
const std::wstring kNoLibrary = L"Caf\u00e9 \u0416\u0443\u043a \U0001F600";

std::string Line(const std::string& text, const char* function = "GetExchangeVersionFromSetupKey") {
    return DetectionTest::Line("Exchange Native", text, std::string("MsExchange::NativeDetectionAddon::") + function,
                               "enterprise/applications/msexchange/detection/exchange_native_detection_addon");
}
const std::string kDetected = Line("I Microsoft Exchange detected", "GetMachineInstalledApplications");
const std::string kNotDetected = Line("I Microsoft Exchange not detected", "GetMachineInstalledApplications");

struct Value {
    const wchar_t* name;
    DWORD type;
    std::wstring data;  // stored as it is; "{dir}" stands for the test's folder
};
struct Key {
    int root;
    const wchar_t* subKey;
    std::vector<Value> values;
    REGSAM view = KEY_WOW64_64KEY;
};
Value Sz(const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return {name, type, text + L'\0'};
}
Value Msi(const std::wstring& path) {
    return Sz(L"MsiInstallPath", path);
}
Value Configured(const std::wstring& version, DWORD type = REG_SZ) {
    return Sz(L"ConfiguredVersion", version, type);
}

// "{dir}" in a text stands for the test's folder.
template <typename Text>
Text WithFolder(Text text, const Text& dir) {
    const size_t at = text.find(typename Text::value_type('{'));
    return at == Text::npos ? text : text.replace(at, 5, dir);
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

    // Writes the keys; they are removed when the result goes.
    std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> Write(const std::vector<Key>& keys) {
        std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> created;
        for (const Key& key : keys) {
            created.push_back(std::make_unique<TestSupport::ScopedRegistryKey>(
                TestSupport::Widen(kRoots[key.root]) + key.subKey, key.view));
            for (const Value& value : key.values) {
                created.back()->SetBytes(value.name, value.type,
                                         TestSupport::UnitBytes(WithFolder(value.data, dir.path())));
            }
        }
        return created;
    }

    void Check(const char* what, const std::vector<Key>& keys, const Lines& logged) {
        SCOPED_TRACE(what);
        const auto created = Write(keys);
        // Every root before the first one written in the 64-bit view lacks its Setup key.
        int first = 4;
        for (const Key& key : keys) {
            first = key.view == KEY_WOW64_64KEY ? std::min(first, key.root) : first;
        }
        Lines expected;
        for (int root = 0; root < first; ++root) {
            expected.push_back(Line("W Failed to open registry key: " + kRoots[root] + "\\Setup (error=2)"));
        }
        for (const std::string& line : logged) {
            expected.push_back(WithFolder(line, Common::Utf16ToUtf8(dir.path())));
        }
        DetectionTest::ExpectDetection<MsExchange::NativeDetectionAddon>(kExchangeId, logged.back() == kDetected,
                                                                         expected);
    }

    TestSupport::TempDir dir;
};

TEST_F(ExchangeDetection, MajorVersionsOfTheLibraryAndTheMailboxRoleMustAgree) {
    Check("nothing installed", {}, {kNotDetected});
    Check("15.1.2507.6 and 15.1.2507.6",
          {{3, L"\\Setup", {Msi(L"{dir}e15")}}, {3, L"\\MailboxRole", {Configured(L"15.1.2507.6")}}}, {kDetected});
    Check("14.3.123.4 and 15.0.1",
          {{3, L"\\Setup", {Msi(L"{dir}e14")}}, {3, L"\\MailboxRole", {Configured(L"15.0.1")}}}, {kNotDetected});
    Check("keys in the 32-bit view only",
          {{3, L"\\Setup", {Msi(L"{dir}e15")}, KEY_WOW64_32KEY},
           {3, L"\\MailboxRole", {Configured(L"15.1")}, KEY_WOW64_32KEY}},
          {kNotDetected});
}

TEST_F(ExchangeDetection, InstallPathFromServicesThenMsiInstallPathWithOneSeparatorBeforeBin) {
    const std::wstring noLibrary = L"{dir}" + kNoLibrary;
    const std::string failed = "W Failed to read ese.dll version from: {dir}" + Common::Utf16ToUtf8(kNoLibrary);
    const Value dword = {L"Services", REG_DWORD, L"\x000F\x0000"};
    const struct {
        const char* what;
        std::vector<Value> setup;
        std::string warning;  // empty: detected
    } cases[] = {
        {"Services first", {Sz(L"Services", L"{dir}e15"), Msi(L"{dir}e14")}, ""},
        {"empty Services", {Sz(L"Services", L""), Msi(L"{dir}e15")}, ""},
        {"expandable Services", {Sz(L"Services", L"{dir}e14", REG_EXPAND_SZ), Msi(L"{dir}e15")}, ""},
        {"Services of another type", {dword, Msi(L"{dir}e15")}, ""},
        {"Services without terminator", {{L"Services", REG_SZ, L"{dir}e15"}}, ""},
        {"trailing backslash", {Msi(L"{dir}e15\\")}, ""},
        {"trailing slash", {Msi(L"{dir}e15/")}, ""},
        {"no library", {Msi(noLibrary)}, failed + "\\bin\\ese.dll (GetLastError=2)"},
        {"no library, backslash", {Msi(noLibrary + L"\\")}, failed + "\\bin\\ese.dll (GetLastError=2)"},
        {"no library, slash", {Msi(noLibrary + L"/")}, failed + "/bin\\ese.dll (GetLastError=2)"},
        {"no install path", {dword}, "D No install path found in registry key: " + kRoots[3] + "\\Setup"},
    };
    for (const auto& c : cases) {
        Check(c.what, {{3, L"\\Setup", c.setup}, {3, L"\\MailboxRole", {Configured(L"15.1")}}},
              c.warning.empty() ? Lines{kDetected} : Lines{Line(c.warning), kNotDetected});
    }
}

TEST_F(ExchangeDetection, MailboxVersionFromConfiguredThenUnpackedVersionInSixtyFourUnits) {
    const std::wstring units64 = L"15" + std::wstring(62, L'.');
    const Value unpacked = Sz(L"UnpackedVersion", L"15.0.847.32");
    const struct {
        const char* what;
        std::vector<Value> mailbox;
        bool detected;
    } cases[] = {
        {"Configured first", {Configured(L"15.1"), Sz(L"UnpackedVersion", L"14.0")}, true},
        {"empty Configured", {Configured(L""), unpacked}, true},
        {"expandable Configured", {Configured(L"14.0", REG_EXPAND_SZ), unpacked}, true},
        {"embedded NUL", {{L"ConfiguredVersion", REG_SZ, std::wstring(L"15\0junk\0", 8)}}, true},
        {"64 units without terminator", {{L"ConfiguredVersion", REG_SZ, units64}}, true},
        {"64 units and a terminator", {Configured(units64)}, false},
    };
    for (const auto& c : cases) {
        Check(c.what, {{3, L"\\Setup", {Msi(L"{dir}e15")}}, {3, L"\\MailboxRole", c.mailbox}},
              c.detected ? Lines{kDetected}
                         : Lines{Line("D No mailbox version found in registry key: " + kRoots[3] + "\\MailboxRole",
                                      "GetMailboxRoleVersion"),
                                 kNotDetected});
    }
}

TEST_F(ExchangeDetection, RootsAreProbedInOrderUntilTheFirstMatch) {
    Check("missing MailboxRole",
          {{0, L"\\Setup", {Msi(L"{dir}e15")}},
           {1, L"\\Setup", {Msi(L"{dir}e15")}},
           {1, L"\\MailboxRole", {Configured(L"15.2.1118.7")}}},
          {Line("W Failed to open mailbox role registry key: " + kRoots[0] + "\\MailboxRole (error=2)",
                "GetMailboxRoleVersion"),
           kDetected});
    Check("majors disagree, then agree at the next root",
          {{0, L"\\Setup", {Msi(L"{dir}e14")}},
           {0, L"\\MailboxRole", {Configured(L"15.1.2507.6")}},
           {1, L"\\Setup", {Msi(L"{dir}e15")}},
           {1, L"\\MailboxRole", {Configured(L"15.1.2507.6")}}},
          {kDetected});
    Check("first root matches",
          {{0, L"\\Setup", {Msi(L"{dir}e15")}}, {0, L"\\MailboxRole", {Configured(L"15.1")}}, {2, L"\\Setup", {}}},
          {kDetected});
}

TEST_F(ExchangeDetection, InstallPathsReachTheXmlReportInUtf8) {
    ASSERT_TRUE(::CreateDirectoryW((dir.path() + L"Exchang\u00e9").c_str(), nullptr) &&
                ::CreateDirectoryW((dir.path() + L"Exchang\u00e9\\bin").c_str(), nullptr));
    const auto keys = Write({{0, L"\\Setup", {Msi(L"{dir}Exchang\u00e9\\")}},
                             {1, L"\\Setup", {Msi(L"{dir}" + kNoLibrary)}},
                             {2, L"\\Setup", {Msi(L"{dir}e15")}},
                             {2, L"\\MailboxRole", {Configured(L"15.1")}}});
    const std::string failed = "W Failed to read ese.dll version from: " + Common::Utf16ToUtf8(dir.path());
    DetectionTest::ExpectXmlReport(
        TestSupport::RunHostprobe({"--format=xml"}), kExchangeId, true, "Exchange Native",
        {"I Microsoft Exchange detected", failed + "Exchang\xC3\xA9\\bin\\ese.dll (GetLastError=2)",
         failed + "Caf\xC3\xA9 \xD0\x96\xD1\x83\xD0\xBA \xF0\x9F\x98\x80\\bin\\ese.dll (GetLastError=2)"});
}

}  // namespace
