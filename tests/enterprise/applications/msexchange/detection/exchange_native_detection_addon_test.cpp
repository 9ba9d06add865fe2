#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "core/common/utf.h"
#include "enterprise/core/addons/app_ids.h"
#include "fake_exchange.h"
#include "log_capture.h"
#include "logging/log.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

using ExchangeTests::CapturedMessage;
using ExchangeTests::kEse14;
using ExchangeTests::kEse15;
using ExchangeTests::kRoots;
using MsExchange::NativeDetectionAddon;
using TestSupport::ScopedRegistryKey;

const char kFile[] = "enterprise/applications/msexchange/detection/exchange_native_detection_addon";
const char kSetupFunction[] = "MsExchange::NativeDetectionAddon::GetExchangeVersionFromSetupKey";
const char kMailboxFunction[] = "MsExchange::NativeDetectionAddon::GetMailboxRoleVersion";
const char kVerdictFunction[] = "MsExchange::NativeDetectionAddon::GetMachineInstalledApplications";

std::string Utf8(const std::wstring& text) {
    return Common::Utf16ToUtf8(text);
}

std::wstring SetupPath(int root) {
    return std::wstring(kRoots[root]) + L"\\Setup";
}

std::wstring MailboxRolePath(int root) {
    return std::wstring(kRoots[root]) + L"\\MailboxRole";
}

// The messages the detector is expected to log.
CapturedMessage SetupKeyMissing(int root) {
    return {Logging::WARNING, kSetupFunction, kFile,
            "[Exchange Native] Failed to open registry key: " + Utf8(SetupPath(root)) + " (error=2)"};
}
CapturedMessage NoInstallPath(int root) {
    return {Logging::DEBUG_TRACE, kSetupFunction, kFile,
            "[Exchange Native] No install path found in registry key: " + Utf8(SetupPath(root))};
}
CapturedMessage LibraryUnreadable(const std::wstring& libraryPath, unsigned lastError) {
    return {Logging::WARNING, kSetupFunction, kFile,
            "[Exchange Native] Failed to read ese.dll version from: " + Utf8(libraryPath) +
                " (GetLastError=" + std::to_string(lastError) + ")"};
}
CapturedMessage MailboxRoleKeyMissing(int root) {
    return {
        Logging::WARNING, kMailboxFunction, kFile,
        "[Exchange Native] Failed to open mailbox role registry key: " + Utf8(MailboxRolePath(root)) + " (error=2)"};
}
CapturedMessage NoMailboxVersion(int root) {
    return {Logging::DEBUG_TRACE, kMailboxFunction, kFile,
            "[Exchange Native] No mailbox version found in registry key: " + Utf8(MailboxRolePath(root))};
}
CapturedMessage Verdict(bool detected) {
    return {Logging::INFORMATION, kVerdictFunction, kFile,
            detected ? "[Exchange Native] Microsoft Exchange detected"
                     : "[Exchange Native] Microsoft Exchange not detected"};
}

using Messages = std::vector<CapturedMessage>;

// A value as it is stored, for layouts the plain setters cannot make (no terminator,
// embedded NULs, other types).
struct RawValue {
    DWORD type;
    std::wstring units;  // stored as they are, with no terminator added

    static RawValue Sz(const std::wstring& text) { return {REG_SZ, text + L'\0'}; }
};

void Store(HKEY key, const wchar_t* name, const RawValue& value) {
    // The registry adds a terminator that the count left out when the unit after the data
    // is NUL, so the unit after the data must not be one.
    std::vector<wchar_t> units(value.units.begin(), value.units.end());
    units.push_back(L'#');
    ExchangeTests::SetRawValue(key, name, value.type, units.data(),
                               static_cast<DWORD>(value.units.size() * sizeof(wchar_t)));
}

class ExchangeDetection : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ExchangeTests::NoExchangeKeys()) << "prefix not clean"; }

    std::unique_ptr<ScopedRegistryKey> SetupKey(int root, const std::wstring& installPath) {
        auto key = std::make_unique<ScopedRegistryKey>(SetupPath(root), KEY_WOW64_64KEY);
        key->SetString(L"MsiInstallPath", installPath);
        return key;
    }
    std::unique_ptr<ScopedRegistryKey> MailboxRoleKey(int root, const std::wstring& configuredVersion) {
        auto key = std::make_unique<ScopedRegistryKey>(MailboxRolePath(root), KEY_WOW64_64KEY);
        key->SetString(L"ConfiguredVersion", configuredVersion);
        return key;
    }

    TestSupport::TempDir dir;
    ExchangeTests::LogCapture log;
    NativeDetectionAddon addon;
};

TEST_F(ExchangeDetection, NothingInstalledFailsEveryRootAtItsSetupKeyInOrder) {
    EXPECT_TRUE(addon.GetMachineInstalledApplications().empty());
    EXPECT_EQ(log.messages(), (Messages{SetupKeyMissing(0), SetupKeyMissing(1), SetupKeyMissing(2), SetupKeyMissing(3),
                                        Verdict(false)}));
}

TEST_F(ExchangeDetection, DetectedWhenLibraryAndMailboxRoleShareTheMajorVersion) {
    const auto setup = SetupKey(3, ExchangeTests::InstallEse(dir, L"v15", kEse15));
    const auto mailbox = MailboxRoleKey(3, L"15.1.2507.6");

    const auto apps = addon.GetMachineInstalledApplications();
    ASSERT_EQ(apps.size(), 1u);
    EXPECT_EQ(apps.begin()->first, Core::ExchangeAppId);
    EXPECT_EQ(apps.begin()->first, "9127E80B-C6C3-4bbf-817D-517E4CE428FC");
    EXPECT_EQ(apps.begin()->second, L"");
    EXPECT_EQ(log.messages(), (Messages{SetupKeyMissing(0), SetupKeyMissing(1), SetupKeyMissing(2), Verdict(true)}));

    std::wstring version;
    EXPECT_TRUE(addon.GetExchangeVersionFromSetupKey(SetupPath(3), version));
    EXPECT_EQ(version, L"15.1.2507.6");
    EXPECT_TRUE(addon.GetMailboxRoleVersion(MailboxRolePath(3), version));
    EXPECT_EQ(version, L"15.1.2507.6");
    // Every call repeats the whole probe.
    EXPECT_EQ(addon.GetMachineInstalledApplications().size(), 1u);
}

TEST_F(ExchangeDetection, OnlyTheMajorNumbersOfBothVersionsDecide) {
    const auto setup = SetupKey(2, ExchangeTests::InstallEse(dir, L"v14", kEse14));  // 14.3.123.4
    const struct {
        const wchar_t* mailboxVersion;
        bool detected;
    } cases[] = {
        {L"15.0.1", false}, {L"14", true},     {L"14.0.0.0", true}, {L" 14.9", true},
        {L"v14.3", false},  {L"-14.3", false}, {L"014.x", true},    {L"140.3", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.mailboxVersion));
        const auto mailbox = MailboxRoleKey(2, c.mailboxVersion);
        log.clear();
        EXPECT_EQ(addon.CheckExchangeInRegistry(), c.detected);
        // A disagreement is silent: only the absent roots 1, 2 and 4 speak.
        const Messages expected = c.detected ? Messages{SetupKeyMissing(0), SetupKeyMissing(1)}
                                             : Messages{SetupKeyMissing(0), SetupKeyMissing(1), SetupKeyMissing(3)};
        EXPECT_EQ(log.messages(), expected);
    }
}

TEST_F(ExchangeDetection, MissingMailboxRoleKeyWarnsAndTheNextRootIsProbed) {
    // The first root holds the second below it.
    const auto setup0 = SetupKey(0, ExchangeTests::InstallEse(dir, L"old", kEse15));
    const auto setup1 = SetupKey(1, ExchangeTests::InstallEse(dir, L"v8", kEse15));
    const auto mailbox1 = MailboxRoleKey(1, L"15.2.1118.7");

    EXPECT_EQ(addon.GetMachineInstalledApplications().size(), 1u);
    EXPECT_EQ(log.messages(), (Messages{MailboxRoleKeyMissing(0), Verdict(true)}));
}

TEST_F(ExchangeDetection, ProbingStopsAtTheFirstRootThatMatches) {
    const auto setup0 = SetupKey(0, ExchangeTests::InstallEse(dir, L"first", kEse15));
    const auto mailbox0 = MailboxRoleKey(0, L"15.1");
    // The later roots would log if they were probed: the third has no install path, the
    // fourth no keys at all.
    ScopedRegistryKey emptySetup2(SetupPath(2), KEY_WOW64_64KEY);

    EXPECT_TRUE(addon.IsExchangeInstalled());
    EXPECT_TRUE(log.messages().empty());

    // Once the first root disagrees, the later ones are probed in order.
    const auto mismatch = MailboxRoleKey(0, L"14.1");
    EXPECT_FALSE(addon.IsExchangeInstalled());
    EXPECT_EQ(log.messages(), (Messages{SetupKeyMissing(1), NoInstallPath(2), SetupKeyMissing(3)}));
}

TEST_F(ExchangeDetection, InstallPathComesFromServicesThenMsiInstallPath) {
    const std::wstring install15 = ExchangeTests::InstallEse(dir, L"fifteen", kEse15);
    const std::wstring install14 = ExchangeTests::InstallEse(dir, L"fourteen", kEse14);
    const struct {
        const char* name;
        bool hasServices;
        RawValue services;
        bool hasMsiInstallPath;
        const wchar_t* expectedVersion;  // null: no install path
    } cases[] = {
        {"Services alone", true, RawValue::Sz(install15), false, L"15.1.2507.6"},
        {"Services first", true, RawValue::Sz(install15), true, L"15.1.2507.6"},
        {"MsiInstallPath alone", false, {}, true, L"14.3.123.4"},
        {"empty Services", true, RawValue::Sz(L""), true, L"14.3.123.4"},
        {"expandable Services", true, {REG_EXPAND_SZ, install15 + L'\0'}, true, L"14.3.123.4"},
        {"numeric Services", true, {REG_DWORD, L"\x000F\x0000"}, true, L"14.3.123.4"},
        {"Services without terminator", true, {REG_SZ, install15}, true, L"15.1.2507.6"},
        {"neither", false, {}, false, nullptr},
        {"empty Services only", true, RawValue::Sz(L""), false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedRegistryKey setup(SetupPath(3), KEY_WOW64_64KEY);
        if (c.hasServices) {
            Store(setup.get(), L"Services", c.services);
        }
        if (c.hasMsiInstallPath) {
            setup.SetString(L"MsiInstallPath", install14);
        }
        log.clear();
        std::wstring version = L"stale";
        EXPECT_EQ(addon.GetExchangeVersionFromSetupKey(SetupPath(3), version), c.expectedVersion != nullptr);
        if (c.expectedVersion != nullptr) {
            EXPECT_EQ(version, c.expectedVersion);
            EXPECT_TRUE(log.messages().empty());
        } else {
            EXPECT_EQ(version, L"");
            EXPECT_EQ(log.messages(), Messages{NoInstallPath(3)});
        }
    }
}

TEST_F(ExchangeDetection, LibraryPathGetsOneSeparatorBeforeBin) {
    const std::wstring withLibrary = ExchangeTests::InstallEse(dir, L"Exchange", kEse15);
    const std::wstring withoutLibrary = ExchangeTests::InstallWithoutEse(dir, L"Empty");
    const struct {
        const wchar_t* suffix;
        const wchar_t* separatorBeforeBin;
    } cases[] = {{L"", L"\\"}, {L"\\", L"\\"}, {L"/", L"/"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.suffix));
        {
            const auto setup = SetupKey(3, withLibrary + c.suffix);
            std::wstring version;
            EXPECT_TRUE(addon.GetExchangeVersionFromSetupKey(SetupPath(3), version));
            EXPECT_EQ(version, L"15.1.2507.6");
        }
        {
            const auto setup = SetupKey(3, withoutLibrary + c.suffix);
            log.clear();
            std::wstring version;
            EXPECT_FALSE(addon.GetExchangeVersionFromSetupKey(SetupPath(3), version));
            EXPECT_EQ(log.messages(),
                      Messages{LibraryUnreadable(withoutLibrary + c.separatorBeforeBin + L"bin\\ese.dll",
                                                 ERROR_FILE_NOT_FOUND)});
        }
    }
}

// MinGW's printf writes a wide "%S" argument through the C locale: Latin-1 characters become
// single bytes and the first character beyond them silently ends the argument.
TEST(ExchangeMessageFormat, WideArgumentsOfThePrintfFamilyAreLossy) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "from: %S (x)", L"C:\\Caf\u00e9\\\u0416\u0443\\bin");
    EXPECT_EQ(std::string(buffer), "from: C:\\Caf\xE9\\ (x)");
}

TEST_F(ExchangeDetection, NonAsciiInstallPathIsReadAndLoggedInFull) {
    const std::wstring folder = L"Caf\u00e9 \u0416\u0443\u043a \U0001F600";
    const auto setup = SetupKey(3, ExchangeTests::InstallEse(dir, folder, kEse15));
    std::wstring version;
    EXPECT_TRUE(addon.GetExchangeVersionFromSetupKey(SetupPath(3), version));
    EXPECT_EQ(version, L"15.1.2507.6");

    const std::wstring missing = ExchangeTests::InstallWithoutEse(dir, folder + L" 2");
    const auto setupMissing = SetupKey(3, missing);
    log.clear();
    EXPECT_FALSE(addon.GetExchangeVersionFromSetupKey(SetupPath(3), version));
    ASSERT_EQ(log.messages().size(), 1u);
    EXPECT_EQ(log.messages()[0].text, "[Exchange Native] Failed to read ese.dll version from: " + Utf8(dir.path()) +
                                          "Caf\xC3\xA9 \xD0\x96\xD1\x83\xD0\xBA \xF0\x9F\x98\x80 2\\bin\\ese.dll"
                                          " (GetLastError=2)");
}

TEST_F(ExchangeDetection, MailboxVersionComesFromConfiguredThenUnpackedVersion) {
    const std::wstring units63(63, L'7');
    const std::wstring units64(64, L'8');
    const struct {
        const char* name;
        bool hasConfigured;
        RawValue configured;
        bool hasUnpacked;
        const wchar_t* expected;  // null: no version
    } cases[] = {
        {"configured", true, RawValue::Sz(L"15.1.2507.6"), false, L"15.1.2507.6"},
        {"configured first", true, RawValue::Sz(L"15.1"), true, L"15.1"},
        {"unpacked alone", false, {}, true, L"15.0.847.32"},
        {"empty configured", true, RawValue::Sz(L""), true, L"15.0.847.32"},
        {"NUL first",
         true,
         {REG_SZ, std::wstring(L"\0"
                               L"15.1\0",
                               6)},
         true,
         L"15.0.847.32"},
        {"numeric configured", true, {REG_DWORD, L"\x000F\x0000"}, true, L"15.0.847.32"},
        {"expandable configured", true, {REG_EXPAND_SZ, L"15.1\0"}, true, L"15.0.847.32"},
        {"embedded NUL", true, {REG_SZ, std::wstring(L"15.1\0junk\0", 10)}, true, L"15.1"},
        {"63 units fit with their terminator", true, RawValue::Sz(units63), true, units63.c_str()},
        {"64 units fit without a terminator", true, {REG_SZ, units64}, true, units64.c_str()},
        {"64 units and a terminator do not fit", true, RawValue::Sz(units64), true, L"15.0.847.32"},
        {"neither", false, {}, false, nullptr},
        {"empty configured only", true, RawValue::Sz(L""), false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedRegistryKey mailbox(MailboxRolePath(1), KEY_WOW64_64KEY);
        if (c.hasConfigured) {
            Store(mailbox.get(), L"ConfiguredVersion", c.configured);
        }
        if (c.hasUnpacked) {
            mailbox.SetString(L"UnpackedVersion", L"15.0.847.32");
        }
        log.clear();
        std::wstring version = L"stale";
        EXPECT_EQ(addon.GetMailboxRoleVersion(MailboxRolePath(1), version), c.expected != nullptr);
        EXPECT_EQ(version, c.expected != nullptr ? c.expected : L"");
        EXPECT_EQ(log.messages(), c.expected != nullptr ? Messages{} : Messages{NoMailboxVersion(1)});
    }
}

TEST(ExchangeReadStringValue, TakesOnlyNonEmptyStringValuesUpToTheirFirstNul) {
    ScopedRegistryKey key(L"SOFTWARE\\hostprobe-tests\\exchange-strings", KEY_WOW64_64KEY);
    const std::wstring longText(5000, L'x');
    const struct {
        const char* name;
        RawValue value;
        std::wstring expected;
    } cases[] = {
        {"plain", RawValue::Sz(L"C:\\Exchange"), L"C:\\Exchange"},
        {"long", RawValue::Sz(longText), longText},
        {"no terminator", {REG_SZ, L"abc"}, L"abc"},
        {"embedded NUL", {REG_SZ, std::wstring(L"ab\0cd\0", 6)}, L"ab"},
        {"empty", RawValue::Sz(L""), L""},
        {"no data", {REG_SZ, L""}, L""},
        {"expandable", {REG_EXPAND_SZ, L"%ProgramFiles%\0"}, L""},
        {"multi", {REG_MULTI_SZ, std::wstring(L"a\0b\0\0", 5)}, L""},
        {"binary", {REG_BINARY, L"xy"}, L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Store(key.get(), L"Value", c.value);
        std::wstring text = L"stale";
        NativeDetectionAddon::ReadStringValue(key.get(), L"Value", text);
        EXPECT_EQ(text, c.expected);
    }
    std::wstring text = L"stale";
    NativeDetectionAddon::ReadStringValue(key.get(), L"Absent", text);
    EXPECT_EQ(text, L"");
}

TEST(ExchangeGetFileVersionString, FailureClearsTheTextAndLeavesTheLastError) {
    TestSupport::TempDir dir;
    std::wstring version = L"stale";
    ::SetLastError(0);
    EXPECT_FALSE(NativeDetectionAddon::GetFileVersionString(dir.path() + L"missing.dll", version));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(version, L"");

    TestSupport::WriteFileBytes(dir.path() + L"text.dll", "MZ but nothing else");
    version = L"stale";
    EXPECT_FALSE(NativeDetectionAddon::GetFileVersionString(dir.path() + L"text.dll", version));
    EXPECT_EQ(version, L"");
}

}  // namespace
