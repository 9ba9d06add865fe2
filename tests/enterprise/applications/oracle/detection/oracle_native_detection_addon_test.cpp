// The Oracle detector against Wine's own vssapi.dll, which has no backup components, and against
// a fake vssapi.dll beside a copy of hostprobe.exe.

#include "enterprise/applications/oracle/detection/oracle_native_detection_addon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tests/enterprise/detection_test.h"

namespace {

using DetectionTest::Lines;
using DetectionTest::operator+;

using DetectionTest::ScopedVssApiOverride;

// With a function: as an in-process capture shows it, with where it was logged.
std::string Line(const std::string& text, const char* function = nullptr) {
    return function == nullptr
               ? DetectionTest::Line("Oracle Detection", text)
               : DetectionTest::Line("Oracle Detection", text,
                                     std::string("OracleBackup::NativeDetectionAddon::") + function,
                                     "enterprise/applications/oracle/detection/oracle_native_detection_addon");
}

TEST(OracleDetection, ReportsTheVerdictAndEveryFailureOfTheEnumeration) {
    const struct {
        std::string setting;  // "system" (Wine's own), "no library", "no export", or how the fake answers
        bool detected;
        Lines messages;  // information lines, then the others; opening and verdict apart
    } scenarios[] = {
        {"system", false, {"W Failed to create VSS backup components: 0x80004001"}},
        {"no library", false, {"W Failed to create VSS backup components: 0x8007007E"}},
        {"no export", false, {"W Failed to create VSS backup components: 0x8007007F"}},
        {"create=80042302", false, {"W Failed to create VSS backup components: 0x80042302"}},
        {"create=null", false, {"W Failed to create VSS backup components: 0x80004003"}},
        {"init=80070005", false, {"W Failed to initialize VSS for backup: 0x80070005"}},
        {"gather=80042301", false, {"W Failed to gather writer metadata: 0x80042301"}},
        {"wait=800423F4", false, {"W Failed waiting for writer metadata: 0x800423F4"}},
        {"count=8004230F", false, {"W Failed to get writer count: 0x8004230F"}},
        // A success other than S_OK from the wait is a success.
        {"wait=42309", false, {"I Found 0 VSS writers"}},
        {"writers=System Writer|Oracle VSS Writer - ORCL|Registry Writer",
         true,
         {"I Found 3 VSS writers", "I Checking writer: System Writer", "I Checking writer: Oracle VSS Writer - ORCL",
          "I Found Oracle VSS Writer: Oracle VSS Writer - ORCL"}},
        {"writers=Oracle VSS writer|ORACLE VSS WRITER",
         false,
         {"I Found 2 VSS writers", "I Checking writer: Oracle VSS writer", "I Checking writer: ORACLE VSS WRITER"}},
        {"writers=ACME Oracle VSS Writer (PROD)|Oracle VSS Writer - TEST",
         true,
         {"I Found 2 VSS writers", "I Checking writer: ACME Oracle VSS Writer (PROD)",
          "I Found Oracle VSS Writer: ACME Oracle VSS Writer (PROD)"}},
        // Unreadable writers are skipped; a missing object or name comes with the call's success code.
        {"writers=meta:80042319|nometa|id:80042310|noname|Oracle VSS Writer - E",
         true,
         {"I Found 5 VSS writers", "I Checking writer: Oracle VSS Writer - E",
          "I Found Oracle VSS Writer: Oracle VSS Writer - E", "W GetWriterMetadata failed for writer 0: hr=0x80042319",
          "W GetWriterMetadata failed for writer 1: hr=0x00000000", "W GetIdentity failed for writer 2: hr=0x80042310",
          "W GetIdentity failed for writer 3: hr=0x00000000"}},
        {"writers=System Writer|throw|Oracle VSS Writer",
         false,
         {"I Found 3 VSS writers", "I Checking writer: System Writer", "E Exception during VSS writer enumeration"}},
    };
    const TestSupport::TempDir dir;
    const std::wstring exe = dir.path() + L"hostprobe.exe", log = dir.path() + L"log.txt";
    ASSERT_TRUE(::CopyFileW(TestSupport::HostprobePath().c_str(), exe.c_str(), FALSE));
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.setting);
        const bool fake = s.setting != "system" && s.setting != "no library";
        const std::wstring folder = s.setting == "no export" ? L"fakes\\vssapi-without-export" : L"fakes\\vssapi";
        ::DeleteFileW((dir.path() + L"vssapi.dll").c_str());
        ::DeleteFileW(log.c_str());
        ASSERT_TRUE(!fake || ::CopyFileW((TestSupport::ModuleDirectory() + folder + L"\\vssapi.dll").c_str(),
                                         (dir.path() + L"vssapi.dll").c_str(), FALSE));
        const ScopedVssApiOverride order(fake ? L"native,builtin" : s.setting == "system" ? L"builtin" : L"");
        TestSupport::ProcessOptions options;
        options.environment = {{L"HOSTPROBE_FAKE_VSS", TestSupport::Widen(s.setting)},
                               {L"HOSTPROBE_FAKE_VSS_LOG", log}};
        const auto r = TestSupport::RunProcess(exe, {L"--format=xml"}, options);
        EXPECT_EQ(TestSupport::ReadFileBytes(log).substr(0, 7), fake ? "live=0 " : "");

        Lines expected = Lines{"I Starting Oracle VSS Writer detection"} + s.messages;
        const auto others = std::stable_partition(expected.begin(), expected.end(),
                                                  [](const std::string& line) { return line[0] == 'I'; });
        expected.insert(others, s.detected ? "I Oracle detected via VSS Writer" : "I Oracle VSS Writer not found");
        DetectionTest::ExpectXmlReport(r, "02AC1E0B-C6C3-4bbf-817D-517E4CE428FC", s.detected, "Oracle Detection",
                                       expected);
    }
}

// A caller's single-threaded apartment does not keep the detector from asking for the backup
// components.
TEST(OracleDetection, LeavesTheCallersApartmentAsItFoundIt) {
    TestSupport::LogCapture log("", Logging::DEBUG_TRACE, DetectionTest::kWhereFlags);
    DetectionTest::InEachApartment([&log] {
        EXPECT_TRUE(OracleBackup::NativeDetectionAddon().GetMachineInstalledApplications().empty());
        EXPECT_EQ(::GetModuleHandleW(L"vssapi.dll"), nullptr);
        EXPECT_EQ(DetectionTest::Located(log),
                  Lines({Line("I Starting Oracle VSS Writer detection", "GetMachineInstalledApplications"),
                         Line("W Failed to create VSS backup components: 0x80004001", "IsOracleVssWriterPresent"),
                         Line("I Oracle VSS Writer not found", "GetMachineInstalledApplications")}));
        log.Clear();
    });
}

}  // namespace
