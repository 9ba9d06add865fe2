// Runs hostprobe.exe as a child process and checks its exact bytes and exit codes.

#include <gtest/gtest.h>

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

}  // namespace
