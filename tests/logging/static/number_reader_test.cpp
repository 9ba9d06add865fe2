#include "logging/static/number_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Logging::ReadNumber;

struct NumberCase {
    const char* text;
    uint32_t value;
};

TEST(ReadNumber, AcceptsDecimalAndBothHexadecimalForms) {
    const NumberCase cases[] = {
        {"0", 0},
        {"17", 17},
        {"00017", 17},
        {"4294967295", 0xFFFFFFFF},
        {"0x0", 0},
        {"0x1f", 0x1F},
        {"0X1F", 0x1F},
        {"0xFFFFFFFF", 0xFFFFFFFF},
        {"0x00000000000000ff", 0xFF},  // leading zeros are no overflow
        {"1fh", 0x1F},
        {"1FH", 0x1F},
        {"ffh", 0xFF},  // hexadecimal letters are fine before the suffix
        {"0h", 0},
        {"FFFFFFFFh", 0xFFFFFFFF},
    };
    for (const NumberCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<uint32_t> value = ReadNumber(c.text);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(*value, c.value);
    }
}

TEST(ReadNumber, RejectsEverythingThatIsNotWhollyANumber) {
    const char* const cases[] = {
        "",            // empty
        "0x",          // prefix without digits
        "0X",          //
        "h",           // suffix without digits
        "H",           //
        "0xh",         // both forms, no digits
        "0x1fh",       // both forms at once
        "4294967296",  // one above 32 bits
        "99999999999999999999",
        "0x100000000",
        "100000000h",
        "12a",   // trailing junk
        "0x1g",  //
        "ff",    // hexadecimal without prefix or suffix
        " 1",    // blanks
        "1 ",    //
        "0x 1",  //
        "+1",    // signs
        "-1",    //
        "0x-1",  //
        "1.5",   //
        "1h1",   // suffix not at the end
        "\t7",   //
        "x10",   //
    };
    for (const char* text : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_FALSE(ReadNumber(text).has_value());
    }
}

TEST(ReadNumber, ReadsOnlyTheGivenViewAndRejectsNull) {
    EXPECT_FALSE(ReadNumber(static_cast<const char*>(nullptr)).has_value());
    // A view into a longer text stops at its own end.
    std::string_view view("1234junk", 4);
    EXPECT_EQ(ReadNumber(view), 1234u);
    // An embedded NUL is not an end of text.
    EXPECT_FALSE(ReadNumber(std::string_view("12\0"
                                             "3",
                                             4))
                     .has_value());
}

}  // namespace
