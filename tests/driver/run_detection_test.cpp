#include "driver/run_detection.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "enterprise/core/addons/addon.h"
#include "enterprise/core/addons/app_ids.h"

namespace {

using Hostprobe::DetectionResult;
using Hostprobe::RunAddon;
using Strings = std::vector<std::string>;

template <int kind>
struct FakeAddon {
    FakeAddon() {
        if (kind == 1) {
            throw std::runtime_error("cannot start");
        }
    }
    MachineManagement::InstalledApplications GetMachineInstalledApplications() {
        switch (kind) {
            case 2: throw Common::Error::FromText({0, "f", "fn", 1}, 0xC10001, L"Null AddonLoader is being used.");
            case 3: throw Common::Error::FromText({0, "f", "fn", 1}, 7, L"Zugriff verweigert \u00e4");
            case 4: throw 42;
            default: return {{Core::SqlServerAppId, L"ignored"}, {Core::ExchangeAppId, L""}};
        }
    }
};

TEST(RunAddon, IdentifiersInMapOrderFailuresAsWarningsNamedAfterTheAddon) {
    DetectionResult result;
    result.applications = {"earlier"};
    RunAddon<FakeAddon<2>>("Exchange", result);
    RunAddon<FakeAddon<1>>("Active Directory", result);
    RunAddon<FakeAddon<3>>("Oracle", result);
    RunAddon<FakeAddon<0>>("SQL Server", result);
    EXPECT_EQ(result.applications, (Strings{"earlier", Core::ExchangeAppId, Core::SqlServerAppId}));
    EXPECT_EQ(result.warnings, (Strings{"Exchange detection error: Null AddonLoader is being used.",
                                        "Active Directory detection exception: cannot start",
                                        "Oracle detection error: Zugriff verweigert \xC3\xA4"}));
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_THROW(RunAddon<FakeAddon<4>>("SQL Server", result), int);  // other types are not caught
    EXPECT_EQ(result.warnings.size(), 3u);
}

TEST(RunDetection, CollectedMessagesInfoThenWarningsThenErrors) {
    Hostprobe::LogCollectingTracer tracer;
    for (const auto& [level, text] : std::vector<std::pair<int, const wchar_t*>>{
             {3, L"warn-1"}, {5, L"critical-1"}, {2, L"info-1"}, {4, L"error-1"}, {2, L"info-2"}}) {
        tracer.Trace("c", level, 0, 0, text);
    }
    const DetectionResult result = Hostprobe::RunDetection(&tracer);
    EXPECT_EQ(result.logMessages, (Strings{"info-1", "info-2", "warn-1", "critical-1", "error-1"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Hostprobe::RunDetection(nullptr).logMessages.empty());
}

}  // namespace
