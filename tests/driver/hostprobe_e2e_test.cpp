// Runs hostprobe.exe as a child process and checks its exact bytes and exit codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

using Args = std::vector<std::string>;

const std::wstring kSqlKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";

std::string Missing(const std::string& source, const std::string& key) {
    return "W00000000: [" + source + "] Failed to open registry key: SOFTWARE\\Microsoft\\" + key;
}

// The report's log lines on a clean prefix: information, then warnings, each in add-on order.
// The prefix's own vssapi.dll has no backup components (E_NOTIMPL).
const std::vector<std::string> kCleanLog = {
    "I00000000: [MSSQL Native] Microsoft SQL Server not detected",
    "I00000000: [Exchange Native] Microsoft Exchange not detected",
    "I00000000: [AD Native] Active Directory not detected (not a Domain Controller)",
    "I00000000: [Oracle Detection] Starting Oracle VSS Writer detection",
    "I00000000: [Oracle Detection] Oracle VSS Writer not found",
    Missing("MSSQL Native", "Microsoft SQL Server\\Instance Names\\SQL (64-bit view, error=2)"),
    Missing("MSSQL Native", "Microsoft SQL Server\\Instance Names\\SQL (32-bit view, error=2)"),
    Missing("Exchange Native", "Exchange\\Setup (error=2)"),
    Missing("Exchange Native", "Exchange\\v8.0\\Setup (error=2)"),
    Missing("Exchange Native", "ExchangeServer\\v14\\Setup (error=2)"),
    Missing("Exchange Native", "ExchangeServer\\v15\\Setup (error=2)"),
    "W00000000: [Oracle Detection] Failed to create VSS backup components: 0x80004001"};

std::string Wrap(const std::vector<std::string>& lines, const std::string& before, const std::string& after) {
    std::string text;
    for (const std::string& line : lines) {
        text += before + line + after + "\r\n";
    }
    return text;
}

// The exit code, standard output and standard error of a run, as "<code>|<out>|<err>".
std::string Outcome(const Args& args) {
    const auto r = TestSupport::RunHostprobe(args);
    return std::to_string(r.exitCode) + "|" + r.out + "|" + r.err;
}

class Hostprobe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kSqlKey, KEY_WOW64_32KEY)) << "prefix not clean";
    }
    TestSupport::TempDir dir;
};

TEST_F(Hostprobe, FormatsOtherThanTextAndXmlAreRejectedBeforeTheOutputIsOpened) {
    for (const auto& [args, format] : std::vector<std::pair<Args, std::string>>{
             {{"--format=XML"}, "XML"},
             {{"--format="}, ""},
             {{"--format=xml", "--output=" + dir.narrowPath() + "r.txt", "--format=json"}, "json"}}) {
        EXPECT_EQ(Outcome(args), "1||Error: Invalid format '" + format + "'. Valid formats: text, xml\r\n");
    }
    EXPECT_EQ(GetFileAttributesW((dir.path() + L"r.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Hostprobe, ACleanMachineGivesTheFullReportOfEveryDetector) {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DetectionResult exitCode=\"0\">\r\n"
        "  <Applications>\r\n  </Applications>\r\n  <LogMessages>\r\n" +
        Wrap(kCleanLog, "    <Message>", "</Message>") + "  </LogMessages>\r\n</DetectionResult>\r\n";
    EXPECT_EQ(Outcome({"--format=xml"}), "0|" + xml + "|");
    EXPECT_EQ(Outcome({"--format=text", "-format=text", "--FORMAT=text", "report.xml", "--format=xml", "--output="}),
              "0|" + xml + "|");
    EXPECT_EQ(Outcome({"--format=xml", "--format=text"}), "0||" + Wrap(kCleanLog, "[LOG] ", ""));
    // An existing, longer file is truncated and holds the report alone.
    const std::wstring report = dir.path() + L"report.xml";
    TestSupport::WriteFileBytes(report, std::string(100000, 'z'));
    EXPECT_EQ(Outcome({"--format=xml", "--output=" + dir.narrowPath() + "report.xml"}), "0||");
    EXPECT_EQ(TestSupport::ReadFileBytes(report), xml);
}

TEST_F(Hostprobe, TextReportWithOutputFileHoldsOnlyTheApplicationLines) {
    TestSupport::ScopedRegistryKey key(kSqlKey, KEY_WOW64_32KEY);
    key.SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
    std::vector<std::string> log = kCleanLog;
    log[0] = "I00000000: [MSSQL Native] Microsoft SQL Server detected";
    log.erase(log.begin() + 6);  // the 32-bit view holds the key
    EXPECT_EQ(Outcome({"--output=" + dir.narrowPath() + "report.txt"}), "0||" + Wrap(log, "[LOG] ", ""));
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"report.txt"), "BC3DA61F-A909-4A22-852E-81B3D92A4B94\r\n");
}

TEST_F(Hostprobe, UnopenableOutputFileFailsAfterDetectionWithNothingOnStandardOutput) {
    const std::string path = dir.narrowPath() + "missing-folder\\report.xml";
    EXPECT_EQ(Outcome({"--format=xml", "--output=" + path}), "1||Error: Cannot open output file: " + path + "\r\n");
}

}  // namespace
