#include "driver/report_writers.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

using Hostprobe::DetectionResult;

// Captures what a writer sends to std::cout and std::cerr.
struct Captured {
    std::string out;
    std::string err;
};

template <typename Writer>
Captured Capture(Writer writer, const DetectionResult& result) {
    std::ostringstream out, err;
    std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
    std::streambuf* oldErr = std::cerr.rdbuf(err.rdbuf());
    writer(result);
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    return {out.str(), err.str()};
}

TEST(EscapeXml, ReplacesEachSpecialCharacterInPlace) {
    EXPECT_EQ(Hostprobe::EscapeXml("a\"b&c'd<e>f"), "a&quot;b&amp;c&apos;d&lt;e&gt;f");
    EXPECT_EQ(Hostprobe::EscapeXml(""), "");
    EXPECT_EQ(Hostprobe::EscapeXml("<<>>"), "&lt;&lt;&gt;&gt;");
}

TEST(EscapeXml, EscapesExistingEntitiesAgainAndLeavesOtherBytes) {
    EXPECT_EQ(Hostprobe::EscapeXml("&amp;"), "&amp;amp;");
    const std::string bytes = std::string("\x01\t\n\r\x7F\x80\xC3\xA9\xFF", 9);
    EXPECT_EQ(Hostprobe::EscapeXml(bytes), bytes);
    EXPECT_EQ(Hostprobe::EscapeXml(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(WriteXmlReport, EmptyResultHasFiveLines) {
    const Captured c = Capture(Hostprobe::WriteXmlReport, DetectionResult{});
    EXPECT_EQ(c.out,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<DetectionResult exitCode=\"0\">\n"
              "  <Applications>\n"
              "  </Applications>\n"
              "</DetectionResult>\n");
    EXPECT_EQ(c.err, "");
}

TEST(WriteXmlReport, WritesOnlyNonEmptySectionsInOrderAndEscapes) {
    DetectionResult result;
    result.applications = {"9127E80B-C6C3-4bbf-817D-517E4CE428FC", "a\"b"};
    result.warnings = {"Exchange detection error: x<y", "second"};
    result.logMessages = {"I00000000: [MSSQL Native] a&b", "line1\nline2"};
    result.exitCode = 1;
    const Captured c = Capture(Hostprobe::WriteXmlReport, result);
    EXPECT_EQ(c.out,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<DetectionResult exitCode=\"1\">\n"
              "  <Applications>\n"
              "    <Application guid=\"9127E80B-C6C3-4bbf-817D-517E4CE428FC\"/>\n"
              "    <Application guid=\"a&quot;b\"/>\n"
              "  </Applications>\n"
              "  <Warnings>\n"
              "    <Warning>Exchange detection error: x&lt;y</Warning>\n"
              "    <Warning>second</Warning>\n"
              "  </Warnings>\n"
              "  <LogMessages>\n"
              "    <Message>I00000000: [MSSQL Native] a&amp;b</Message>\n"
              "    <Message>line1\nline2</Message>\n"
              "  </LogMessages>\n"
              "</DetectionResult>\n");
}

TEST(WriteXmlReport, ErrorsComeBeforeWarningsAndNegativeCodesKeepTheirSign) {
    DetectionResult result;
    result.errors = {"Detection failed: boom"};
    result.warnings = {"w"};
    result.exitCode = -5;
    const Captured c = Capture(Hostprobe::WriteXmlReport, result);
    EXPECT_EQ(c.out,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<DetectionResult exitCode=\"-5\">\n"
              "  <Applications>\n"
              "  </Applications>\n"
              "  <Errors>\n"
              "    <Error>Detection failed: boom</Error>\n"
              "  </Errors>\n"
              "  <Warnings>\n"
              "    <Warning>w</Warning>\n"
              "  </Warnings>\n"
              "</DetectionResult>\n");
}

TEST(WriteTextReport, ApplicationsToOutLogLinesToErrNothingElse) {
    EXPECT_EQ(Capture(Hostprobe::WriteTextReport, DetectionResult{}).out, "");
    EXPECT_EQ(Capture(Hostprobe::WriteTextReport, DetectionResult{}).err, "");

    DetectionResult result;
    result.applications = {"BC3DA61F-A909-4A22-852E-81B3D92A4B94", "a<b"};
    result.errors = {"Detection failed: x"};
    result.warnings = {"w"};
    result.logMessages = {"I00000000: m&1", "W00000000: m2"};
    result.exitCode = 1;
    const Captured c = Capture(Hostprobe::WriteTextReport, result);
    EXPECT_EQ(c.out, "BC3DA61F-A909-4A22-852E-81B3D92A4B94\na<b\n");
    EXPECT_EQ(c.err, "[LOG] I00000000: m&1\n[LOG] W00000000: m2\n");
}

}  // namespace
