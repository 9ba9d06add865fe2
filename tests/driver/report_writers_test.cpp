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

// Keeps what it is handed and counts the hand-overs; it has no buffer of its own,
// so every write of the stream reaches it as it was made.
class CountingBuffer : public std::streambuf {
public:
    std::string text;
    int writes = 0;

protected:
    std::streamsize xsputn(const char* bytes, std::streamsize count) override {
        ++writes;
        text.append(bytes, static_cast<size_t>(count));
        return count;
    }
    int_type overflow(int_type c) override {
        ++writes;
        text.push_back(traits_type::to_char_type(c));
        return c;
    }
};

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

// Every write to an unbuffered standard stream is a system call, so each stream gets its part
// of the report in one write.
TEST(ReportWriters, EachStreamGetsItsPartInOneWrite) {
    DetectionResult result;
    result.applications = {"BC3DA61F-A909-4A22-852E-81B3D92A4B94", "9127E80B-C6C3-4bbf-817D-517E4CE428FC"};
    result.warnings = {"w"};
    result.logMessages = {"I00000000: one", "W00000000: two"};
    for (auto writer : {Hostprobe::WriteXmlReport, Hostprobe::WriteTextReport}) {
        CountingBuffer out, err;
        std::streambuf* oldOut = std::cout.rdbuf(&out);
        std::streambuf* oldErr = std::cerr.rdbuf(&err);
        writer(result);
        std::cout.rdbuf(oldOut);
        std::cerr.rdbuf(oldErr);
        EXPECT_EQ(out.writes, 1);
        EXPECT_EQ(out.text.back(), '\n');
        EXPECT_LE(err.writes, 1);
    }
}

}  // namespace
