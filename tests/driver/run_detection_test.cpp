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

TEST(RunDetection, CollectedTextsSortedByLevelInArrivalOrderInformationFirst) {
    Hostprobe::LogCollectingTracer tracer;
    tracer.TraceData("x", 4, 1, 2, L"data \u00e9", "block", 5);
    tracer.TraceData("x", 3, 0, 0, nullptr, "block", 5);
    tracer.TraceError("x", 4, Common::Error::FromText({0, "f", "fn", 1}, 5, L"errors are not collected"));
    const int levels[] = {3, 2, 6, 5, 2, 2, 1, 0, 2};
    const wchar_t* texts[] = {
        L"w",   L"i", L"blocked", L"c", L" padded \r\n", L" padded \r\n", L"debug is dropped", L"level 0 is dropped",
        nullptr};
    for (size_t i = 0; i < 9; ++i) {
        tracer.Trace("x", levels[i], 0, 0, texts[i]);
    }
    const Strings info = {"i", " padded \r\n", " padded \r\n"};
    EXPECT_EQ(tracer.InfoMessagesUtf8(), info);
    EXPECT_EQ(tracer.WarningMessagesUtf8(), (Strings{"w"}));
    EXPECT_EQ(tracer.ErrorMessagesUtf8(), (Strings{"data \xC3\xA9", "blocked", "c"}));
    const DetectionResult result = Hostprobe::RunDetection(&tracer);
    EXPECT_EQ(result.logMessages, (Strings{info[0], info[1], info[2], "w", "data \xC3\xA9", "blocked", "c"}));
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(Hostprobe::RunDetection(nullptr).logMessages.empty());
}

}  // namespace
