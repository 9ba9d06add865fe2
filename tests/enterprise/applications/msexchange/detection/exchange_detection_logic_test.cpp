#include "enterprise/applications/msexchange/detection/exchange_detection_logic.h"

#include <gtest/gtest.h>

namespace {

TEST(ExchangeParseMajorVersion, StrtolOnTheTextBeforeTheFirstDot) {
    const struct {
        const wchar_t* text;
        uint32_t major;  // 12345: does not parse
    } cases[] = {
        {L"15", 15},  // no dot: the whole text
        {L"15.1.2507.6", 15},
        {L"14.x.-1.y", 14},  // the rest is never looked at
        {L"015.0", 15},      // base 10, not octal
        {L" 15.0", 15},      // leading white space is skipped
        {L"+15.0", 15},
        {L"-0.1", 0},                    // a sign on zero is not negative
        {L"2147483648.0", 2147483647u},  // saturates like strtol
        {L"", 12345},
        {L".15", 12345},
        {L"v15.0", 12345},
        {L"-1.0", 12345},
        {L"15 .0", 12345},   // trailing white space is not consumed
        {L"0x0F.0", 12345},  // base 10 only
        {L"+", 12345},
        {L"\u00a015", 12345},        // only the C locale's white space
        {L"\uff11\uff15.0", 12345},  // full-width digits are not digits
    };
    for (const auto& c : cases) {
        uint32_t major = 12345;
        EXPECT_EQ(MsExchange::ParseMajorVersion(c.text, major), c.major != 12345) << testing::PrintToString(c.text);
        EXPECT_EQ(major, c.major == 12345 ? 0 : c.major) << testing::PrintToString(c.text);
    }
}

TEST(ExchangeFormatFileVersion, TheFourSixteenBitFieldsInDecimal) {
    EXPECT_EQ(MsExchange::FormatFileVersion(0x000F0001, 0x09CB0006), L"15.1.2507.6");
    EXPECT_EQ(MsExchange::FormatFileVersion(0xFFFFFFFF, 0xFFFF0000), L"65535.65535.65535.0");
}

TEST(ExchangeArchitectureGate, OnlySixtyFourBitWindowsIsProbed) {
    for (const uint16_t architecture : {9, 12, 6}) {  // x64, ARM64, IA-64
        EXPECT_TRUE(MsExchange::IsArchitectureProbed(architecture, false)) << architecture;
    }
    for (const uint16_t architecture : {0, 5, 0xFFFF}) {  // x86, ARM, unknown
        EXPECT_FALSE(MsExchange::IsArchitectureProbed(architecture, false)) << architecture;
        EXPECT_TRUE(MsExchange::IsArchitectureProbed(architecture, true)) << architecture;  // WOW64 needs 64 bits
    }
}

}  // namespace
