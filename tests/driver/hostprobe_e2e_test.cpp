// Runs hostprobe.exe as a child process and checks its exact bytes and exit codes.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "driver/report_writers.h"
#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

using TestSupport::RunHostprobe;

const std::wstring kSqlKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
const char kSqlId[] = "BC3DA61F-A909-4A22-852E-81B3D92A4B94";

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// One message as the report shows it: the level letter, the code, and the text.
struct LogLine {
    char level;  // 'I', 'W', 'E' or 'C'; 'D' lines are logged but never reported
    std::string text;
};
using LogLines = std::vector<LogLine>;

LogLines operator+(LogLines a, const LogLines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::string kSqlKeyText = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

LogLines SqlOpenFailed(const char* view) {
    return {{'W', "[MSSQL Native] Failed to open registry key: " + kSqlKeyText + " (" + view + " view, error=2)"}};
}
LogLines SqlNoValues(const char* view) {
    return {{'D', std::string("[MSSQL Native] No values found in registry key (") + view + " view)"}};
}
LogLines SqlNoStringValues(const char* view) {
    return {{'D', std::string("[MSSQL Native] No REG_SZ values found in registry key (") + view + " view)"}};
}
LogLines SqlVerdict(bool found) {
    return {{'I', found ? "[MSSQL Native] Microsoft SQL Server detected"
                        : "[MSSQL Native] Microsoft SQL Server not detected"}};
}

// What the detectors after SQL Server log on a clean prefix, in add-on order. Extend it when
// a detector logs more.
LogLines OtherDetectorsOnACleanMachine() {
    const std::string exchangeFailed = "[Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\";
    return {
        {'W', exchangeFailed + "Exchange\\Setup (error=2)"},
        {'W', exchangeFailed + "Exchange\\v8.0\\Setup (error=2)"},
        {'W', exchangeFailed + "ExchangeServer\\v14\\Setup (error=2)"},
        {'W', exchangeFailed + "ExchangeServer\\v15\\Setup (error=2)"},
        {'I', "[Exchange Native] Microsoft Exchange not detected"},
        {'I', "[AD Native] Active Directory not detected (not a Domain Controller)"},
        {'I', "[Oracle Detection] Starting Oracle VSS Writer detection"},
        // The prefix's own vssapi.dll has no backup components (E_NOTIMPL).
        {'W', "[Oracle Detection] Failed to create VSS backup components: 0x80004001"},
        {'I', "[Oracle Detection] Oracle VSS Writer not found"},
    };
}

// The report's log messages: every information line, then every warning, then every error,
// each group in the order logged; debug lines are not collected.
std::vector<std::string> ReportedMessages(const LogLines& logged) {
    std::vector<std::string> messages;
    for (const std::string& levels : {std::string("I"), std::string("W"), std::string("EC")}) {
        for (const LogLine& line : logged) {
            if (levels.find(line.level) != std::string::npos) {
                messages.push_back(std::string(1, line.level) + "00000000: " + line.text);
            }
        }
    }
    return messages;
}

std::string TextReportLog(const LogLines& logged) {
    std::string err;
    for (const std::string& message : ReportedMessages(logged)) {
        err += "[LOG] " + message + "\r\n";
    }
    return err;
}

std::string XmlReport(const std::vector<std::string>& applications, const LogLines& logged) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<DetectionResult exitCode=\"0\">\r\n"
        "  <Applications>\r\n";
    for (const std::string& id : applications) {
        xml += "    <Application guid=\"" + id + "\"/>\r\n";
    }
    xml += "  </Applications>\r\n";
    const std::vector<std::string> messages = ReportedMessages(logged);
    if (!messages.empty()) {
        xml += "  <LogMessages>\r\n";
        for (const std::string& message : messages) {
            xml += "    <Message>" + Hostprobe::EscapeXml(message) + "</Message>\r\n";
        }
        xml += "  </LogMessages>\r\n";
    }
    return xml + "</DetectionResult>\r\n";
}

TEST(HostprobeCommandLine, RejectsFormatsOtherThanTextAndXml) {
    auto r = RunHostprobe({"--format=XML"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Invalid format 'XML'. Valid formats: text, xml\r\n");

    r = RunHostprobe({"--format="});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Invalid format ''. Valid formats: text, xml\r\n");

    // The check uses the last occurrence, and happens before the output file is touched.
    TestSupport::TempDir dir;
    r = RunHostprobe({"--format=xml", "--output=" + dir.narrowPath() + "r.txt", "--format=json"});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.err, "Error: Invalid format 'json'. Valid formats: text, xml\r\n");
    EXPECT_EQ(GetFileAttributesW((dir.path() + L"r.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(HostprobeCommandLine, LastFormatWinsAndUnknownArgumentsAreIgnored) {
    auto r = RunHostprobe({"--format=xml", "--format=text"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_FALSE(StartsWith(r.out, "<?xml"));

    r = RunHostprobe({"--format=text", "-format=text", "--FORMAT=text", "report.xml", "--format=xml", "--output="});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(StartsWith(r.out,
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<DetectionResult exitCode=\"0\">\r\n"
                           "  <Applications>\r\n"))
        << r.out;
}

TEST(HostprobeCommandLine, UnopenableOutputFileFailsAfterDetection) {
    TestSupport::TempDir dir;
    const std::string path = dir.narrowPath() + "missing-folder\\report.xml";
    const auto r = RunHostprobe({"--format=xml", "--output=" + path});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Cannot open output file: " + path + "\r\n");
}

TEST(HostprobeReport, XmlReportHasTheDocumentShapeWithCrLfLines) {
    const auto r = RunHostprobe({"--format=xml"});
    EXPECT_EQ(r.exitCode, 0u);
    ASSERT_TRUE(StartsWith(r.out,
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                           "<DetectionResult exitCode=\"0\">\r\n"
                           "  <Applications>\r\n"
                           "  </Applications>\r\n"))
        << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() - 20), "</DetectionResult>\r\n");
    // Every line ends in CR LF and no bare LF appears.
    size_t lf = 0, crlf = 0;
    for (size_t i = 0; i < r.out.size(); ++i) {
        if (r.out[i] == '\n') {
            ++lf;
            crlf += (i > 0 && r.out[i - 1] == '\r');
        }
    }
    EXPECT_EQ(lf, crlf);
}

class HostprobeSqlServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kSqlKey, KEY_WOW64_64KEY)) << "prefix not clean";
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kSqlKey, KEY_WOW64_32KEY)) << "prefix not clean";
    }
};

TEST_F(HostprobeSqlServer, TextReportWithOutputFileHoldsOnlyApplicationLines) {
    TestSupport::ScopedRegistryKey key(kSqlKey, KEY_WOW64_32KEY);
    key.SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
    TestSupport::TempDir dir;
    const auto r = RunHostprobe({"--output=" + dir.narrowPath() + "report.txt"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"report.txt"), std::string(kSqlId) + "\r\n");
}

TEST_F(HostprobeSqlServer, KeyInBothViewsGivesOneEntry) {
    TestSupport::ScopedRegistryKey key64(kSqlKey, KEY_WOW64_64KEY);
    key64.SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
    TestSupport::ScopedRegistryKey key32(kSqlKey, KEY_WOW64_32KEY);
    key32.SetString(L"SQLEXPRESS", L"MSSQL15.SQLEXPRESS");
    const auto r = RunHostprobe({"--format=xml"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_TRUE(StartsWith(r.out, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                              "<DetectionResult exitCode=\"0\">\r\n"
                                              "  <Applications>\r\n"
                                              "    <Application guid=\"") +
                                      kSqlId + "\"/>\r\n  </Applications>\r\n"))
        << r.out;
}

TEST_F(HostprobeSqlServer, KeysWithoutStringValuesAreNotDetected) {
    {
        TestSupport::ScopedRegistryKey key(kSqlKey, KEY_WOW64_64KEY);
        key.SetDword(L"MSSQLSERVER", 1);
        const auto r = RunHostprobe({});
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, "");
    }
    {
        TestSupport::ScopedRegistryKey key(kSqlKey, KEY_WOW64_64KEY);
        const auto r = RunHostprobe({});
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(HostprobeSqlServer, ACleanMachineReportsEveryDetectorsMessagesInLevelOrder) {
    const LogLines logged =
        SqlOpenFailed("64-bit") + SqlOpenFailed("32-bit") + SqlVerdict(false) + OtherDetectorsOnACleanMachine();
    auto r = RunHostprobe({});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, TextReportLog(logged));

    r = RunHostprobe({"--format=xml"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, XmlReport({}, logged));
    EXPECT_EQ(r.err, "");
}

TEST_F(HostprobeSqlServer, LogMessagesForEachShapeOfTheInstanceKey) {
    struct Scenario {
        const char* what;
        bool in64;
        bool in32;
        enum { String, DwordOnly, Empty } values;
        std::vector<std::string> applications;
        LogLines logged;
    };
    const Scenario scenarios[] = {
        {"32-bit view only", false, true, Scenario::String, {kSqlId}, SqlOpenFailed("64-bit") + SqlVerdict(true)},
        {"both views", true, true, Scenario::String, {kSqlId}, SqlVerdict(true)},
        {"REG_DWORD only",
         true,
         false,
         Scenario::DwordOnly,
         {},
         SqlNoStringValues("64-bit") + SqlOpenFailed("32-bit") + SqlVerdict(false)},
        {"empty key",
         true,
         false,
         Scenario::Empty,
         {},
         SqlNoValues("64-bit") + SqlOpenFailed("32-bit") + SqlVerdict(false)},
    };
    for (const Scenario& scenario : scenarios) {
        std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> keys;
        for (const auto& view :
             {std::make_pair(scenario.in64, KEY_WOW64_64KEY), std::make_pair(scenario.in32, KEY_WOW64_32KEY)}) {
            if (!view.first) {
                continue;
            }
            keys.push_back(std::make_unique<TestSupport::ScopedRegistryKey>(kSqlKey, view.second));
            if (scenario.values == Scenario::String) {
                keys.back()->SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
            } else if (scenario.values == Scenario::DwordOnly) {
                keys.back()->SetDword(L"MSSQLSERVER", 1);
            }
        }
        const LogLines logged = scenario.logged + OtherDetectorsOnACleanMachine();
        auto r = RunHostprobe({"--format=xml"});
        EXPECT_EQ(r.exitCode, 0u) << scenario.what;
        EXPECT_EQ(r.out, XmlReport(scenario.applications, logged)) << scenario.what;
        r = RunHostprobe({});
        EXPECT_EQ(r.err, TextReportLog(logged)) << scenario.what;
    }
}

}  // namespace
