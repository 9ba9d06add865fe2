#include "logging/static/backends/console_colours.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Logging::ColourSequence;
using Logging::ReadColourSequence;

// Console colours of the terminal colours 0-7: black, red, green, yellow, blue, magenta, cyan, white.
constexpr uint16_t kConsole[8] = {0x0, 0x4, 0x2, 0x6, 0x1, 0x5, 0x3, 0x7};
constexpr uint16_t kCurrent = 0x17;  // white on blue

std::string Read(const std::string& text) {
    const ColourSequence s = ReadColourSequence(text, kCurrent);
    const char* kinds[] = {"text", "ignored", "set", "restore"};
    return std::string(kinds[s.kind]) + " " + std::to_string(s.length) +
           (s.kind == ColourSequence::SetAttribute ? " " + std::to_string(s.attribute) : "");
}

TEST(ConsoleColours, EachColourInForegroundAndBackgroundWithAndWithoutIntensity) {
    for (int n = 0; n < 8; ++n) {
        const std::string digit = std::to_string(n);
        const auto set = [](size_t length, int attribute) {
            return "set " + std::to_string(length) + " " + std::to_string(attribute);
        };
        EXPECT_EQ(Read("\x1b[3" + digit + "m"), set(5, 0x10 | kConsole[n])) << n;
        EXPECT_EQ(Read("\x1b[4" + digit + "m"), set(5, 0x07 | kConsole[n] << 4)) << n;
        EXPECT_EQ(Read("\x1b[1;3" + digit + "m"), set(7, 0x10 | kConsole[n] | 0x08)) << n;
        // Bold with a background brightens it, and the foreground in force.
        EXPECT_EQ(Read("\x1b[1;4" + digit + "m"), set(7, 0x0F | kConsole[n] << 4 | 0x80)) << n;
        EXPECT_EQ(Read("\x1b[0;3" + digit + ";4" + digit + "m"), set(10, kConsole[n] | kConsole[n] << 4)) << n;
    }
}

TEST(ConsoleColours, RestoresIgnoredNumbersAndIncompleteSequences) {
    const std::pair<std::string, std::string> cases[] = {
        {"\x1b[m", "restore 3"},
        {"\x1b[0m", "restore 4"},
        {"\x1b[;m", "restore 4"},
        {"\x1b[0;0mtext", "restore 6"},
        {"\x1b[1m", "set 4 31"},       // bold alone brightens the foreground in force
        {"\x1b[5;31m", "set 7 20"},    // styles other than bold add nothing
        {"\x1b[1;0;31m", "set 9 20"},  // the last style counts
        {"\x1b[00031m", "set 8 20"},
        {"\x1b[38m", "ignored 5"},
        {"\x1b[38;5;196m", "ignored 11"},
        {"\x1b[1;9m", "ignored 6"},
        {"\x1b[48m", "ignored 5"},
        {"\x1b[90m", "ignored 5"},
        {"\x1b[31;1000000000m", "ignored 16"},
        {"\x1b[1;31", "text 0"},
        {"\x1b[31x", "text 0"},
        {"\x1b[", "text 0"},
        {"\x1b", "text 0"},
        {"\x1b(0m", "text 0"},
        {"x\x1b[31m", "text 0"},
    };
    for (const auto& [text, read] : cases) {
        EXPECT_EQ(Read(text), read) << text.substr(1);
    }
}

}  // namespace
