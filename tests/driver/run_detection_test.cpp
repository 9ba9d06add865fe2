#include "driver/run_detection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "driver/logging_hooks.h"
#include "enterprise/core/addons/addon.h"
#include "enterprise/core/addons/app_ids.h"
#include "logging/result_codes.h"
#include "support/log_capture.h"
#include "support/registry.h"

// Allocations of at least this many bytes fail while it is not zero: how the real add-ons and
// the driver meet a shortage of memory.
std::atomic<size_t> g_failFrom{0};

void* operator new(std::size_t size) {
    void* block = g_failFrom != 0 && size >= g_failFrom ? nullptr : std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;  // the default operator delete frees with std::free
}

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

// The buffers for the longest instance name and for the install path are the large allocations
// of their add-ons; what escapes them is a warning, and the run goes on.
TEST(RunDetection, RealAddonsOutOfMemoryAreWarningsNamedAfterThem) {
    TestSupport::ScopedRegistryKey sql(L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL",
                                       KEY_WOW64_64KEY);
    sql.SetString(std::wstring(16383, L'n'), L"MSSQL16.MSSQLSERVER");
    TestSupport::ScopedRegistryKey exchange(L"SOFTWARE\\Microsoft\\Exchange\\Setup", KEY_WOW64_64KEY);
    exchange.SetString(L"Services", std::wstring(20000, L'p'));
    const TestSupport::LogCapture log("", Logging::INFORMATION);
    g_failFrom = 32768;  // the 16,384 units of the name buffer
    const DetectionResult result = Hostprobe::RunDetection(nullptr);
    g_failFrom = 0;
    EXPECT_EQ(result.warnings, (Strings{"SQL Server detection exception: std::bad_alloc",
                                        "Exchange detection exception: std::bad_alloc"}));
    EXPECT_TRUE(result.errors.empty());
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(log.Texts().front(), "I00000000: [AD Native] Active Directory not detected (not a Domain Controller)");
}

// Nothing the add-ons log makes the copy into the report fail, so running out of memory there
// stands for every failure of the outer region: the run fails, without the log messages.
TEST(RunDetection, AFailureWhileCopyingTheMessagesFailsTheRun) {
    Hostprobe::LogCollectingTracer tracer;
    tracer.Trace("x", 2, 0, 0, L"kept");
    tracer.Trace("x", 3, 0, 0, std::wstring(1 << 20, L'w').c_str());
    g_failFrom = 1 << 19;  // the long text's UTF-8 copy
    const DetectionResult result = Hostprobe::RunDetection(&tracer);
    g_failFrom = 0;
    EXPECT_EQ(result.errors, Strings{"Detection failed: std::bad_alloc"});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.warnings.empty());
    EXPECT_TRUE(result.logMessages.empty());
}

}  // namespace
