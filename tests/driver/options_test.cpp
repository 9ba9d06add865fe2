#include "driver/options.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

Hostprobe::Options Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "hostprobe.exe");
    return Hostprobe::ParseOptions(static_cast<int>(args.size()), args.data());
}

TEST(ParseOptions, DefaultsAreTextToStandardOutput) {
    const auto options = Parse({});
    EXPECT_EQ(options.format, "text");
    EXPECT_EQ(options.output, "");
}

TEST(ParseOptions, LastOccurrenceWinsAndValuesMayBeEmpty) {
    auto options = Parse({"--format=xml", "--output=a.txt", "--format=text", "--output=b.txt"});
    EXPECT_EQ(options.format, "text");
    EXPECT_EQ(options.output, "b.txt");

    options = Parse({"--output=a.txt", "--output=", "--format="});
    EXPECT_EQ(options.output, "");
    EXPECT_EQ(options.format, "");

    // The value is everything after the first '='.
    options = Parse({"--output=C:\\x=y.txt", "--format==xml"});
    EXPECT_EQ(options.output, "C:\\x=y.txt");
    EXPECT_EQ(options.format, "=xml");
}

TEST(ParseOptions, OtherArgumentsAreIgnored) {
    const auto options =
        Parse({"-format=xml", "--FORMAT=xml", "x--format=xml", "--format", "report.xml", "--Output=o", ""});
    EXPECT_EQ(options.format, "text");
    EXPECT_EQ(options.output, "");
}

TEST(IsValidFormat, ComparesExactly) {
    EXPECT_TRUE(Hostprobe::IsValidFormat("text"));
    EXPECT_TRUE(Hostprobe::IsValidFormat("xml"));
    EXPECT_FALSE(Hostprobe::IsValidFormat("XML"));
    EXPECT_FALSE(Hostprobe::IsValidFormat("Text"));
    EXPECT_FALSE(Hostprobe::IsValidFormat(""));
    EXPECT_FALSE(Hostprobe::IsValidFormat("xml "));
}

}  // namespace
