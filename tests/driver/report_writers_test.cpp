#include "driver/report_writers.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

namespace {

using Hostprobe::DetectionResult;

// What a writer sends to std::cout and to std::cerr, as "<out>|<err>".
std::string Capture(void (*writer)(const DetectionResult&), const DetectionResult& result) {
    std::ostringstream out, err;
    std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
    std::streambuf* oldErr = std::cerr.rdbuf(err.rdbuf());
    writer(result);
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    return out.str() + "|" + err.str();
}

TEST(EscapeXml, ReplacesEachSpecialByteOnceAndCopiesEveryOtherByte) {
    EXPECT_EQ(Hostprobe::EscapeXml("a\"b&c'd<e>f"), "a&quot;b&amp;c&apos;d&lt;e&gt;f");
    EXPECT_EQ(Hostprobe::EscapeXml("&amp;<<"), "&amp;amp;&lt;&lt;");  // escaped text is escaped again
    const std::string other("\x01\t\n\r\x7F\x80\xC3\xA9\xFF\0z", 11);
    EXPECT_EQ(Hostprobe::EscapeXml(other), other);
    EXPECT_EQ(Hostprobe::EscapeXml(""), "");
}

TEST(WriteXmlReport, SectionsInOrderEscapedOneLineEachEmptyOnesLeftOut) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<DetectionResult exitCode=";
    EXPECT_EQ(Capture(Hostprobe::WriteXmlReport, DetectionResult{}),
              head + "\"0\">\n  <Applications>\n  </Applications>\n</DetectionResult>\n|");
    DetectionResult result;
    result.applications = {"9127E80B-C6C3-4bbf-817D-517E4CE428FC", "a\"b"};
    result.errors = {"Detection failed: x<y"};
    result.warnings = {"Exchange detection error: a&b", "second"};
    result.logMessages = {"I00000000: [MSSQL Native] 'q'", "line1\nline2"};
    result.exitCode = -5;
    EXPECT_EQ(Capture(Hostprobe::WriteXmlReport, result),
              head +
                  "\"-5\">\n"
                  "  <Applications>\n"
                  "    <Application guid=\"9127E80B-C6C3-4bbf-817D-517E4CE428FC\"/>\n"
                  "    <Application guid=\"a&quot;b\"/>\n"
                  "  </Applications>\n"
                  "  <Errors>\n    <Error>Detection failed: x&lt;y</Error>\n  </Errors>\n"
                  "  <Warnings>\n"
                  "    <Warning>Exchange detection error: a&amp;b</Warning>\n"
                  "    <Warning>second</Warning>\n"
                  "  </Warnings>\n"
                  "  <LogMessages>\n"
                  "    <Message>I00000000: [MSSQL Native] &apos;q&apos;</Message>\n"
                  "    <Message>line1\nline2</Message>\n"
                  "  </LogMessages>\n"
                  "</DetectionResult>\n|");
}

TEST(WriteTextReport, ApplicationsToOutLogLinesToErrUnescapedNothingElse) {
    EXPECT_EQ(Capture(Hostprobe::WriteTextReport, DetectionResult{}), "|");
    DetectionResult result;
    result.applications = {"BC3DA61F-A909-4A22-852E-81B3D92A4B94", "a<b"};
    result.errors = {"Detection failed: x"};
    result.warnings = {"w"};
    result.logMessages = {"I00000000: m&1", "W00000000: m2"};
    result.exitCode = 1;
    EXPECT_EQ(Capture(Hostprobe::WriteTextReport, result),
              "BC3DA61F-A909-4A22-852E-81B3D92A4B94\na<b\n|[LOG] I00000000: m&1\n[LOG] W00000000: m2\n");
}

}  // namespace
