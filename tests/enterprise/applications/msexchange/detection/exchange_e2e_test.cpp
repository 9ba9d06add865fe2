// Runs hostprobe.exe against a machine that the test lays out and checks the report bytes.

#include <gtest/gtest.h>

#include <memory>

#include "fake_exchange.h"
#include "support/process.h"
#include "support/registry.h"
#include "support/temp_dir.h"

namespace {

using ExchangeTests::kRoots;
using TestSupport::RunHostprobe;
using TestSupport::ScopedRegistryKey;

const std::string kExchangeId = "9127E80B-C6C3-4bbf-817D-517E4CE428FC";

class ExchangeReport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(ExchangeTests::NoExchangeKeys()) << "prefix not clean"; }

    // Lays out the fourth root with a library of `fileVersion` and a mailbox role version.
    void Install(const wchar_t* fileVersion, const std::wstring& mailboxVersion) {
        setup_ = std::make_unique<ScopedRegistryKey>(std::wstring(kRoots[3]) + L"\\Setup", KEY_WOW64_64KEY);
        setup_->SetString(L"MsiInstallPath", ExchangeTests::InstallEse(dir_, L"Exchange Server", fileVersion) + L"\\");
        mailbox_ = std::make_unique<ScopedRegistryKey>(std::wstring(kRoots[3]) + L"\\MailboxRole", KEY_WOW64_64KEY);
        mailbox_->SetString(L"ConfiguredVersion", mailboxVersion);
    }

private:
    TestSupport::TempDir dir_;
    std::unique_ptr<ScopedRegistryKey> setup_;
    std::unique_ptr<ScopedRegistryKey> mailbox_;
};

std::string ApplicationsElement(const std::string& xml) {
    const size_t begin = xml.find("  <Applications>\r\n");
    const size_t end = xml.find("  </Applications>\r\n");
    if (begin == std::string::npos || end == std::string::npos || end < begin) {
        return "(no Applications element)";
    }
    return xml.substr(begin, end + 19 - begin);
}

TEST_F(ExchangeReport, MatchingVersionsReportTheExchangeIdentifier) {
    Install(ExchangeTests::kEse15, L"15.1.2507.6");

    auto r = RunHostprobe({"--format=text"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, kExchangeId + "\r\n");

    r = RunHostprobe({"--format=xml"});
    EXPECT_EQ(r.exitCode, 0u);
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DetectionResult exitCode=\"0\">\r\n";
    EXPECT_EQ(r.out.compare(0, head.size(), head), 0) << r.out;
    EXPECT_EQ(ApplicationsElement(r.out),
              "  <Applications>\r\n"
              "    <Application guid=\"" +
                  kExchangeId +
                  "\"/>\r\n"
                  "  </Applications>\r\n");
}

TEST_F(ExchangeReport, DifferentMajorVersionsReportNothing) {
    Install(ExchangeTests::kEse14, L"15.0.1");

    auto r = RunHostprobe({"--format=text"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "");

    r = RunHostprobe({"--format=xml"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(ApplicationsElement(r.out), "  <Applications>\r\n  </Applications>\r\n");
}

}  // namespace
