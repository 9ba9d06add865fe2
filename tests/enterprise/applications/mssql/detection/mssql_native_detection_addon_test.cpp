#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"

#include <gtest/gtest.h>

#include <memory>

#include "driver/run_detection.h"
#include "enterprise/core/addons/app_ids.h"
#include "support/log_capture.h"
#include "support/process.h"
#include "support/registry.h"

namespace {

using Lines = std::vector<std::string>;

const std::wstring kKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

// Messages as the capture shows them, with the function that logs them.
std::string Line(const std::string& text, const char* function = "CheckMsSqlInRegistry") {
    return text.substr(0, 1) + "00000000: [MSSQL Native] " + text.substr(1) +
           " MsSql::NativeDetectionAddon::" + function + "()";
}
std::string OpenFailed(const char* view) {
    return Line("WFailed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL (" +
                std::string(view) + " view, error=2)");
}
const std::string kDetected = Line("IMicrosoft SQL Server detected", "GetMachineInstalledApplications");
const std::string kNotDetected = Line("IMicrosoft SQL Server not detected", "GetMachineInstalledApplications");

TEST(SqlServerDetection, EachShapeOfTheInstanceKeyInProcessAndInTheReport) {
    struct Key {
        REGSAM view;
        std::vector<std::pair<const wchar_t*, DWORD>> values;
    };
    const struct {
        const char* what;
        std::vector<Key> keys;
        bool detected;
        Lines logged;  // DEBUG lines included
    } scenarios[] = {
        {"no key", {}, false, {OpenFailed("64-bit"), OpenFailed("32-bit"), kNotDetected}},
        {"32-bit view only", {{KEY_WOW64_32KEY, {{L"MSSQLSERVER", REG_SZ}}}}, true, {OpenFailed("64-bit"), kDetected}},
        {"both views",
         {{KEY_WOW64_64KEY, {{L"MSSQLSERVER", REG_SZ}}}, {KEY_WOW64_32KEY, {{L"SQLEXPRESS", REG_SZ}}}},
         true,
         {kDetected}},
        {"REG_DWORD only",
         {{KEY_WOW64_64KEY, {{L"MSSQLSERVER", REG_DWORD}}}},
         false,
         {Line("DNo REG_SZ values found in registry key (64-bit view)"), OpenFailed("32-bit"), kNotDetected}},
        {"empty key",
         {{KEY_WOW64_64KEY, {}}},
         false,
         {Line("DNo values found in registry key (64-bit view)"), OpenFailed("32-bit"), kNotDetected}},
        {"a string after other types, with a name shorter than the longest",
         {{KEY_WOW64_64KEY, {{L"A", REG_DWORD}, {L"LongerValueName", REG_DWORD}, {L"B", REG_SZ}}}},
         true,
         {OpenFailed("32-bit"), kDetected}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kKey, KEY_WOW64_64KEY)) << "prefix not clean";
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kKey, KEY_WOW64_32KEY)) << "prefix not clean";
        std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> keys;
        for (const Key& key : scenario.keys) {
            keys.push_back(std::make_unique<TestSupport::ScopedRegistryKey>(kKey, key.view));
            for (const auto& [name, type] : key.values) {
                type == REG_SZ ? keys.back()->SetString(name, L"MSSQL16.X") : keys.back()->SetDword(name, 1);
            }
        }
        MachineManagement::InstalledApplications expected;
        if (scenario.detected) {
            expected.emplace(Core::SqlServerAppId, L"");
        }
        {
            TestSupport::LogCapture log("", Logging::DEBUG_TRACE, 0x1004F4);  // with the function
            EXPECT_EQ(MsSql::NativeDetectionAddon().GetMachineInstalledApplications(), expected);
            EXPECT_EQ(log.Texts(), scenario.logged);
        }
        // The report of the same machine shows every detector's messages as logged in-process.
        TestSupport::LogCapture all;
        Hostprobe::RunDetection(nullptr);
        const auto r = TestSupport::RunHostprobe({});
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, scenario.detected ? "BC3DA61F-A909-4A22-852E-81B3D92A4B94\r\n" : "");
        EXPECT_EQ(r.err, TestSupport::ReportLogLines(all.Texts()));
    }
}

}  // namespace
