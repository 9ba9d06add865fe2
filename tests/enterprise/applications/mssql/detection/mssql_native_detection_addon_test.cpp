#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/registry.h"
#include "tests/enterprise/detection_test.h"

namespace {

using DetectionTest::Lines;

const std::wstring kKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

std::string Line(const std::string& text, const char* function = "CheckMsSqlInRegistry") {
    return DetectionTest::Line("MSSQL Native", text, std::string("MsSql::NativeDetectionAddon::") + function,
                               "enterprise/applications/mssql/detection/mssql_native_detection_addon");
}
std::string OpenFailed(const char* view) {
    return Line("W Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL (" +
                std::string(view) + " view, error=2)");
}
const std::string kDetected = Line("I Microsoft SQL Server detected", "GetMachineInstalledApplications");
const std::string kNotDetected = Line("I Microsoft SQL Server not detected", "GetMachineInstalledApplications");

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
         {Line("D No REG_SZ values found in registry key (64-bit view)"), OpenFailed("32-bit"), kNotDetected}},
        {"empty key",
         {{KEY_WOW64_64KEY, {}}},
         false,
         {Line("D No values found in registry key (64-bit view)"), OpenFailed("32-bit"), kNotDetected}},
        {"a string after other types, with a name shorter than the longest",
         {{KEY_WOW64_64KEY, {{L"A", REG_DWORD}, {L"LongerValueName", REG_DWORD}, {L"B", REG_SZ}}}},
         true,
         {OpenFailed("32-bit"), kDetected}},
    };
    for (const auto& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> keys;
        for (const Key& key : scenario.keys) {
            keys.push_back(std::make_unique<TestSupport::ScopedRegistryKey>(kKey, key.view));
            for (const auto& [name, type] : key.values) {
                type == REG_SZ ? keys.back()->SetString(name, L"MSSQL16.X") : keys.back()->SetDword(name, 1);
            }
        }
        DetectionTest::ExpectDetection<MsSql::NativeDetectionAddon>("BC3DA61F-A909-4A22-852E-81B3D92A4B94",
                                                                    scenario.detected, scenario.logged);
    }
}

}  // namespace
