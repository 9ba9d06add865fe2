// The Active Directory detector against Wine's own WMI (a stand-alone machine, domain role 0)
// and against a fake WMI locator registered in its place.

#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"

#include <comdef.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tests/enterprise/detection_test.h"

namespace {

using DetectionTest::Lines;
using DetectionTest::operator+;

using DetectionTest::FakeLocatorRegistration;

TEST(ActiveDirectoryDetection, ReportsTheVerdictAndEveryFailureOfTheQuery) {
    const struct {
        const char* fake;  // how the fake answers; null: Wine's own WMI does
        bool detected;
        const char* released;  // the fake's objects, in the order of their final release
        Lines messages;        // after the verdict
    } scenarios[] = {
        {nullptr, false, "", {}},  // a stand-alone machine, domain role 0
        {"objects=4", true, "OESL", {}},
        {"objects=5", true, "OESL", {}},
        {"objects=3", false, "OESL", {}},
        // Every object is read, and a detection stays; a failed read counts for nothing.
        {"objects=3,5,0", true, "OOOESL", {}},
        {"objects=get,3", false, "OOESL", {}},
        // A time-out, a failure or an empty answer ends the enumeration.
        {"objects=timeout,5", false, "ESL", {"E WMI query timeout after 30000 ms"}},
        {"objects=4,fail:8004100A,5", true, "OESL", {"W WMI enumeration failed (HRESULT=0x8004100A)"}},
        {"objects=none,5", false, "ESL", {}},
        {"create=800401F0", false, "", {"W Failed to create WMI locator (HRESULT=0x800401F0)"}},
        {"connect=8004100E", false, "L", {"W Failed to connect to WMI (HRESULT=0x8004100E)"}},
        {"connect=null", false, "L", {"W Failed to connect to WMI (HRESULT=0x80004003)"}},
        {"blanket=800706BA", false, "SL", {"W Failed to set proxy blanket (HRESULT=0x800706BA)"}},
        {"query=8004103A", false, "SL", {"W Failed to execute WMI query (HRESULT=0x8004103A)"}},
        {"query=null;objects=5", false, "SL", {}},
        // Wine's WMI answers again once the fake is taken away.
        {nullptr, false, "", {}},
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.fake != nullptr ? s.fake : "Wine's WMI");
        const TestSupport::TempDir dir;
        TestSupport::ProcessOptions options;
        options.environment = {{L"HOSTPROBE_FAKE_WMI", TestSupport::Widen(s.fake != nullptr ? s.fake : "")},
                               {L"HOSTPROBE_FAKE_WMI_LOG", dir.path() + L"log.txt"}};
        std::optional<FakeLocatorRegistration> registration;
        if (s.fake != nullptr) {
            registration.emplace();
        }
        const auto r = TestSupport::RunHostprobe({"--format=xml"}, options);
        registration.reset();

        const std::string verdict = s.detected ? "I Active Directory detected on Domain Controller"
                                               : "I Active Directory not detected (not a Domain Controller)";
        DetectionTest::ExpectXmlReport(r, "017131FD-ABB7-4B39-8C5A-6F0A8EB70966", s.detected, "AD Native",
                                       Lines{verdict} + s.messages);
        EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"log.txt"),
                  s.fake != nullptr ? "live=0 released=" + std::string(s.released) : "");
    }
}

// Run by the test below in a process of its own, where no BSTR has been freed yet: a freed one
// would be reused without asking the allocator.
TEST(ActiveDirectoryDetection, BstrAllocationFailureChild) {
    const char* scenario = std::getenv("HOSTPROBE_FAKE_WMI");
    if (scenario == nullptr || std::string(scenario) != "bstr=fail") {
        GTEST_SKIP() << "run by AFailedBstrAllocationRaisesTheComOutOfMemoryError";
    }
    try {
        ActiveDirectory::NativeDetectionAddon().GetMachineInstalledApplications();
        ADD_FAILURE() << "no exception";
    } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), E_OUTOFMEMORY);
    }
}

TEST(ActiveDirectoryDetection, AFailedBstrAllocationRaisesTheComOutOfMemoryError) {
    const FakeLocatorRegistration registration;
    TestSupport::ProcessOptions options;
    options.environment = {{L"HOSTPROBE_FAKE_WMI", L"bstr=fail"}};
    const auto child = TestSupport::RunProcess(TestSupport::ModuleDirectory() + L"test_ad.exe",
                                               {L"--gtest_filter=*.BstrAllocationFailureChild"}, options);
    EXPECT_EQ(child.exitCode, 0u) << child.out;
    EXPECT_NE(child.out.find("[  PASSED  ] 1 test."), std::string::npos) << child.out;
    // The driver catches neither: the run ends without a report.
    const auto r = TestSupport::RunHostprobe({"--format=xml"}, options);
    EXPECT_EQ(r.exitCode, 3u);
    EXPECT_EQ(r.out, "");
}

TEST(ActiveDirectoryDetection, LeavesTheCallersApartmentAsItFoundIt) {
    const FakeLocatorRegistration registration;
    ::SetEnvironmentVariableW(L"HOSTPROBE_FAKE_WMI", L"objects=5,timeout");
    const auto line = [](const std::string& text, const char* function) {
        return DetectionTest::Line("AD Native", text, std::string("ActiveDirectory::NativeDetectionAddon::") + function,
                                   "enterprise/applications/ad/detection/ad_native_detection_addon");
    };
    TestSupport::LogCapture log("", Logging::DEBUG_TRACE, DetectionTest::kWhereFlags);
    DetectionTest::InEachApartment([&] {
        EXPECT_EQ(ActiveDirectory::NativeDetectionAddon().GetMachineInstalledApplications().size(), 1u);
        EXPECT_EQ(DetectionTest::Located(log),
                  Lines({line("E WMI query timeout after 30000 ms", "IsDomainController"),
                         line("I Active Directory detected on Domain Controller", "GetMachineInstalledApplications")}));
        log.Clear();
    });
    ::SetEnvironmentVariableW(L"HOSTPROBE_FAKE_WMI", nullptr);
}

}  // namespace
