#include "driver/run_detection.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "enterprise/core/addons/addon.h"
#include "enterprise/core/addons/app_ids.h"

namespace {

using Hostprobe::DetectionResult;
using Hostprobe::RunAddon;

struct TwoApplications {
    MachineManagement::InstalledApplications GetMachineInstalledApplications() {
        // Map order, not insertion order, is the report order.
        return {{Core::SqlServerAppId, L"ignored"}, {Core::ExchangeAppId, L""}};
    }
};

struct ThrowsError {
    MachineManagement::InstalledApplications GetMachineInstalledApplications() {
        throw Common::Error::FromText({0, "f", "fn", 1}, 0xC10001, L"Null AddonLoader is being used.");
    }
};

struct ThrowsInConstructor {
    ThrowsInConstructor() { throw std::runtime_error("cannot start"); }
    MachineManagement::InstalledApplications GetMachineInstalledApplications() { return {}; }
};

struct ThrowsOther {
    MachineManagement::InstalledApplications GetMachineInstalledApplications() { throw 42; }
};

struct ThrowsNonAsciiError {
    MachineManagement::InstalledApplications GetMachineInstalledApplications() {
        throw Common::Error::FromText({0, "f", "fn", 1}, 7, L"Zugriff verweigert \u00e4");
    }
};

TEST(RunAddon, AppendsIdentifiersInMapOrder) {
    DetectionResult result;
    result.applications = {"earlier"};
    RunAddon<TwoApplications>("SQL Server", result);
    EXPECT_EQ(result.applications, (std::vector<std::string>{"earlier", Core::ExchangeAppId, Core::SqlServerAppId}));
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_EQ(result.exitCode, 0);
}

TEST(RunAddon, EscapingFailuresBecomeWarningsNamedAfterTheAddon) {
    DetectionResult result;
    RunAddon<ThrowsError>("Exchange", result);
    RunAddon<ThrowsInConstructor>("Active Directory", result);
    RunAddon<ThrowsNonAsciiError>("Oracle", result);
    RunAddon<TwoApplications>("SQL Server", result);
    EXPECT_EQ(result.warnings, (std::vector<std::string>{
                                   "Exchange detection error: Null AddonLoader is being used.",
                                   "Active Directory detection exception: cannot start",
                                   "Oracle detection error: Zugriff verweigert \xC3\xA4",
                               }));
    EXPECT_EQ(result.applications.size(), 2u);
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(result.exitCode, 0);
}

TEST(RunAddon, OtherExceptionTypesAreNotCaught) {
    DetectionResult result;
    EXPECT_THROW(RunAddon<ThrowsOther>("SQL Server", result), int);
    EXPECT_TRUE(result.warnings.empty());
}

TEST(RunDetection, MergesCollectedMessagesInfoThenWarningThenError) {
    Hostprobe::LogCollectingTracer tracer;
    tracer.Trace("c", 3, 0, 0, L"warn-1");
    tracer.Trace("c", 5, 0, 0, L"critical-1");
    tracer.Trace("c", 2, 0, 0, L"info-1");
    tracer.Trace("c", 4, 0, 0, L"error-1");
    tracer.Trace("c", 2, 0, 0, L"info-2");
    const DetectionResult result = Hostprobe::RunDetection(&tracer);

    auto position = [&](const std::string& text) {
        for (size_t i = 0; i < result.logMessages.size(); ++i) {
            if (result.logMessages[i] == text) {
                return static_cast<int>(i);
            }
        }
        ADD_FAILURE() << "missing " << text;
        return -1;
    };
    EXPECT_LT(position("info-1"), position("info-2"));
    EXPECT_LT(position("info-2"), position("warn-1"));
    EXPECT_LT(position("warn-1"), position("critical-1"));
    EXPECT_LT(position("critical-1"), position("error-1"));
    EXPECT_EQ(result.exitCode, 0);
}

TEST(RunDetection, WithoutTracerCollectsNoMessages) {
    const DetectionResult result = Hostprobe::RunDetection(nullptr);
    EXPECT_TRUE(result.logMessages.empty());
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(result.exitCode, 0);
}

}  // namespace
