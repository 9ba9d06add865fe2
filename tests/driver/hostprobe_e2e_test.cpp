// Runs hostprobe.exe as a child process and checks its exact bytes and exit codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"
#include "tests/driver/expected_report.h"

namespace {

using Args = std::vector<std::string>;
using ExpectedReport::Wrap;

const std::wstring kSqlKey = TestSupport::Widen(ExpectedReport::kSqlKey);
const std::vector<std::string> kCleanLog = ExpectedReport::LogLines(ExpectedReport::CleanLines());

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
    const std::string xml = ExpectedReport::Xml({}, ExpectedReport::CleanLines());
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
    ExpectedReport::DetectorLines lines = ExpectedReport::CleanLines();
    lines[ExpectedReport::kSql] = {"I Microsoft SQL Server detected", ExpectedReport::SqlKeyMissing("64-bit")};
    EXPECT_EQ(Outcome({"--output=" + dir.narrowPath() + "report.txt"}),
              "0||" + Wrap(ExpectedReport::LogLines(lines), "[LOG] ", ""));
    EXPECT_EQ(TestSupport::ReadFileBytes(dir.path() + L"report.txt"), "BC3DA61F-A909-4A22-852E-81B3D92A4B94\r\n");
}

TEST_F(Hostprobe, UnopenableOutputFileFailsAfterDetectionWithNothingOnStandardOutput) {
    const std::string path = dir.narrowPath() + "missing-folder\\report.xml";
    EXPECT_EQ(Outcome({"--format=xml", "--output=" + path}), "1||Error: Cannot open output file: " + path + "\r\n");
}

}  // namespace
