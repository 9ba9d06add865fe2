#include "logging/static/line_format.h"

#include <gtest/gtest.h>

#include "logging/static/console_colours.h"

namespace {

TEST(LineFormat, ZoneSuffixCarriesSignHoursAndMinutes) {
    const std::pair<int32_t, const char*> cases[] = {
        {120, "+02:00"}, {0, "+00:00"},    {-210, "-03:30"}, {345, "+05:45"},
        {-30, "-00:30"}, {-720, "-12:00"}, {840, "+14:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Logging::FormatZoneSuffix(c.first), c.second) << c.first;
    }
}

TEST(LineFormat, TimestampsPadEveryFieldAndKeepWideYears) {
    Logging::Platform::LocalTime t;
    t.year = 987;
    t.month = 1;
    t.day = 2;
    t.hour = 3;
    t.minute = 4;
    t.second = 5;
    t.millisecond = 6;
    char out[48];
    EXPECT_EQ(std::string(out, Logging::FormatTimestamp(out, t, nullptr)), "0987-01-02 03:04:05:006 ");
    EXPECT_EQ(std::string(out, Logging::FormatTimestamp(out, t, "+01:00")), "0987-01-02T03:04:05:006+01:00 ");
    t.year = 12345;
    t.millisecond = 999;
    EXPECT_EQ(std::string(out, Logging::FormatTimestamp(out, t, nullptr)), "12345-01-02 03:04:05:999 ");
}

TEST(LineFormat, ColourSequencesNeedDigitsSemicolonsAndAFinalM) {
    const std::pair<std::string, std::string> cases[] = {
        {"\x1b[1;31mred\x1b[0m", "red"},
        {"\x1b[m", ""},
        {"a\x1b[;;m", "a"},
        {"\x1b[1;31", "\x1b[1;31"},  // no final "m"
        {"\x1b[1x", "\x1b[1x"},      // another terminator
        {"\x1b(0m", "\x1b(0m"},      // not a CSI
        {"\x1b", "\x1b"},            // ESC at the end
        {"\x1b\x1b[32mg", "\x1bg"},  // a lone ESC before a sequence
        {"no colour", "no colour"},
    };
    for (const auto& c : cases) {
        std::string text = c.first;
        text.resize(Logging::StripColourSequences(&text[0], text.size()));
        EXPECT_EQ(text, c.second) << c.first;
    }
}

TEST(LineFormat, PlaceholdersNotAllowedAreLeftAndReported) {
    Logging::PlaceholderValues values;
    values.pid = 99;
    values.pname = "app";
    values.target = "t";
    std::string out;
    EXPECT_EQ(Logging::ExpandPrefix("{pname}-{pid}-{date}-{target}-{x}{",
                                    Logging::kPlaceholderPid | Logging::kPlaceholderPname, values, out),
              static_cast<uint32_t>(Logging::kPlaceholderDate | Logging::kPlaceholderTarget));
    EXPECT_EQ(out, "app-99-{date}-{target}-{x}{");
    out.clear();
    // {date} without a time to take it from stays too.
    EXPECT_EQ(Logging::ExpandPrefix("{date}{target}", Logging::kAllPlaceholders, values, out),
              static_cast<uint32_t>(Logging::kPlaceholderDate));
    EXPECT_EQ(out, "{date}t");
}

TEST(LineFormat, Utf8EncodingKeepsLoneSurrogatesAndStopsBeforeAPartialCharacter) {
    char out[16];
    EXPECT_EQ(std::string(out, Logging::EncodeUtf8(L"\xD800x", out, sizeof out)), "\xED\xA0\x80x");
    EXPECT_EQ(Logging::EncodeUtf8(L"ab\u20ac", out, 4), 2u);
    EXPECT_EQ(Logging::EncodeUtf8(nullptr, out, 4), 0u);
}

TEST(ConsoleColours, SequencesBecomeAttributes) {
    using Kind = Logging::ColourSequence::Kind;
    struct Case {
        const char* text;
        Kind kind;
        size_t length;
        uint16_t attribute;
    };
    const uint16_t current = 0x07;  // white on black
    const Case cases[] = {
        {"\x1b[1;31m", Kind::SetAttribute, 7, 0x0C},      // bold red
        {"\x1b[32m", Kind::SetAttribute, 5, 0x02},        // green
        {"\x1b[1;33;44m", Kind::SetAttribute, 10, 0x9E},  // bold yellow on bold blue
        {"\x1b[1;30m", Kind::SetAttribute, 7, 0x08},      // bold black is grey
        {"\x1b[1m", Kind::SetAttribute, 4, 0x0F},         // bold alone brightens
        {"\x1b[46m", Kind::SetAttribute, 5, 0x37},        // cyan background
        {"\x1b[0m", Kind::Restore, 4, 0},
        {"\x1b[m", Kind::Restore, 3, 0},
        {"\x1b[0;32m", Kind::SetAttribute, 7, 0x02},
        {"\x1b[38;5m", Kind::Ignored, 7, 0},
        {"\x1b[9m", Kind::Ignored, 4, 0},
        {"\x1b[31", Kind::NotASequence, 0, 0},
        {"\x1b[31;x", Kind::NotASequence, 0, 0},
    };
    for (const Case& c : cases) {
        const Logging::ColourSequence s = Logging::ReadColourSequence(c.text, current);
        EXPECT_EQ(s.kind, c.kind) << c.text + 1;
        EXPECT_EQ(s.length, c.length) << c.text + 1;
        if (c.kind == Kind::SetAttribute) {
            EXPECT_EQ(s.attribute, c.attribute) << c.text + 1;
        }
    }
}

}  // namespace
