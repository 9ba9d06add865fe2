// Runs hostprobe.exe as a child process and checks its exact bytes and exit codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

using TestSupport::RunHostprobe;

const std::wstring kSqlKey = L"SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
const std::string kXmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DetectionResult exitCode=\"0\">\r\n";

// The report's log lines on a clean prefix: information, then warnings, each in add-on order.
// The prefix's own vssapi.dll has no backup components (E_NOTIMPL).
const std::vector<std::string> kCleanLog = {
    "I00000000: [MSSQL Native] Microsoft SQL Server not detected",
    "I00000000: [Exchange Native] Microsoft Exchange not detected",
    "I00000000: [AD Native] Active Directory not detected (not a Domain Controller)",
    "I00000000: [Oracle Detection] Starting Oracle VSS Writer detection",
    "I00000000: [Oracle Detection] Oracle VSS Writer not found",
    "W00000000: [MSSQL Native] Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance "
    "Names\\SQL (64-bit view, error=2)",
    "W00000000: [MSSQL Native] Failed to open registry key: SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance "
    "Names\\SQL (32-bit view, error=2)",
    "W00000000: [Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\Exchange\\Setup (error=2)",
    "W00000000: [Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\Exchange\\v8.0\\Setup (error=2)",
    "W00000000: [Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\ExchangeServer\\v14\\Setup "
    "(error=2)",
    "W00000000: [Exchange Native] Failed to open registry key: SOFTWARE\\Microsoft\\ExchangeServer\\v15\\Setup "
    "(error=2)",
    "W00000000: [Oracle Detection] Failed to create VSS backup components: 0x80004001",
};

std::string Wrap(const std::vector<std::string>& lines, const std::string& before, const std::string& after) {
    std::string text;
    for (const std::string& line : lines) {
        text += before + line + after + "\r\n";
    }
    return text;
}

void ExpectRejected(const std::vector<std::string>& args, const std::string& format) {
    const auto r = RunHostprobe(args);
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Invalid format '" + format + "'. Valid formats: text, xml\r\n");
}

class Hostprobe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kSqlKey, KEY_WOW64_64KEY)) << "prefix not clean";
        ASSERT_FALSE(TestSupport::RegistryKeyExists(kSqlKey, KEY_WOW64_32KEY)) << "prefix not clean";
    }
    TestSupport::TempDir dir;
};

TEST_F(Hostprobe, FormatsOtherThanTextAndXmlAreRejectedBeforeTheOutputIsOpened) {
    ExpectRejected({"--format=XML"}, "XML");
    ExpectRejected({"--format="}, "");
    ExpectRejected({"--format=xml", "--output=" + dir.narrowPath() + "r.txt", "--format=json"}, "json");
    EXPECT_EQ(GetFileAttributesW((dir.path() + L"r.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Hostprobe, ACleanMachineGivesTheFullReportOfEveryDetector) {
    const std::string xml = kXmlHead + "  <Applications>\r\n  </Applications>\r\n  <LogMessages>\r\n" +
                            Wrap(kCleanLog, "    <Message>", "</Message>") +
                            "  </LogMessages>\r\n</DetectionResult>\r\n";
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--format=xml"},
             {"--format=text", "-format=text", "--FORMAT=text", "report.xml", "--format=xml", "--output="}}) {
        const auto r = RunHostprobe(args);
        EXPECT_EQ(r.exitCode, 0u);
        EXPECT_EQ(r.out, xml);
        EXPECT_EQ(r.err, "");
    }
    const auto r = RunHostprobe({"--format=xml", "--format=text"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Wrap(kCleanLog, "[LOG] ", ""));
}

TEST_F(Hostprobe, TextReportWithOutputFileHoldsOnlyTheApplicationLines) {
    TestSupport::ScopedRegistryKey key(kSqlKey, KEY_WOW64_32KEY);
    key.SetString(L"MSSQLSERVER", L"MSSQL16.MSSQLSERVER");
    const auto r = RunHostprobe({"--output=" + dir.narrowPath() + "report.txt"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"report.txt"), "BC3DA61F-A909-4A22-852E-81B3D92A4B94\r\n");
    std::vector<std::string> log = kCleanLog;
    log[0] = "I00000000: [MSSQL Native] Microsoft SQL Server detected";
    log.erase(log.begin() + 6);  // the 32-bit view holds the key
    EXPECT_EQ(r.err, Wrap(log, "[LOG] ", ""));
}

TEST_F(Hostprobe, UnopenableOutputFileFailsAfterDetectionWithNothingOnStandardOutput) {
    const std::string path = dir.narrowPath() + "missing-folder\\report.xml";
    const auto r = RunHostprobe({"--format=xml", "--output=" + path});
    EXPECT_EQ(r.exitCode, 1u);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error: Cannot open output file: " + path + "\r\n");
}

}  // namespace
