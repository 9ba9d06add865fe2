#include "driver/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ParseOptions, LastOccurrenceWinsValuesMayBeEmptyOtherArgumentsAreIgnored) {
    const struct {
        std::vector<const char*> args;
        const char* format;
        const char* output;
    } cases[] = {
        {{}, "text", ""},
        {{"--format=xml", "--output=a.txt", "--format=text", "--output=b.txt"}, "text", "b.txt"},
        {{"--output=a.txt", "--output=", "--format="}, "", ""},
        {{"--output=C:\\x=y.txt", "--format==xml"}, "=xml", "C:\\x=y.txt"},  // all after the first '='
        {{"-format=xml", "--FORMAT=xml", "x--format=xml", "--format", "report.xml", "--Output=o", ""}, "text", ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv = c.args;
        argv.insert(argv.begin(), "hostprobe.exe");
        const Hostprobe::Options options = Hostprobe::ParseOptions(static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(options.format, c.format) << testing::PrintToString(c.args);
        EXPECT_EQ(options.output, c.output) << testing::PrintToString(c.args);
    }
}

TEST(IsValidFormat, OnlyTextAndXmlExactly) {
    for (const auto& [format, valid] :
         {std::pair{"text", true}, {"xml", true}, {"XML", false}, {"Text", false}, {"", false}, {"xml ", false}}) {
        EXPECT_EQ(Hostprobe::IsValidFormat(format), valid) << format;
    }
}

}  // namespace
