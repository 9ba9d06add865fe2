#include "enterprise/applications/msexchange/detection/exchange_detection_logic.h"

#include <gtest/gtest.h>

namespace {

using MsExchange::ParseMajorVersion;

struct MajorCase {
    const wchar_t* text;
    bool parses;
    uint32_t major;
};

TEST(ExchangeParseMajorVersion, FollowsStrtolOnTheTextBeforeTheFirstDot) {
    const MajorCase cases[] = {
        {L"15", true, 15},  // no dot: the whole text
        {L"15.1.2507.6", true, 15},
        {L"14.x.-1.y", true, 14},  // the rest is never looked at
        {L"015.0", true, 15},      // base 10, not octal
        {L" 15.0", true, 15},      // leading white space is skipped
        {L"+15.0", true, 15},
        {L"-0.1", true, 0},                    // a sign on zero is not negative
        {L"2147483648.0", true, 2147483647u},  // saturates like strtol
        {L"99999999999999999999999", true, 2147483647u},
        {L"", false, 0},
        {L".15", false, 0},  // nothing before the dot
        {L"v15.0", false, 0},
        {L"-1.0", false, 0},
        {L"-99999999999.0", false, 0},  // saturates to the negative end
        {L"15 .0", false, 0},           // trailing white space is not consumed
        {L"0x0F.0", false, 0},          // base 10 only
        {L"+", false, 0},
        {L"\u00a015", false, 0},        // only the C locale's white space
        {L"\uff11\uff15.0", false, 0},  // full-width digits are not digits
    };
    for (const MajorCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text));
        uint32_t major = 12345;
        EXPECT_EQ(ParseMajorVersion(c.text, major), c.parses);
        EXPECT_EQ(major, c.major);
    }
}

TEST(ExchangeFormatFileVersion, JoinsTheFourSixteenBitFieldsInDecimal) {
    EXPECT_EQ(MsExchange::FormatFileVersion(0x000F0001, 0x09CB0006), L"15.1.2507.6");
    EXPECT_EQ(MsExchange::FormatFileVersion(0, 0), L"0.0.0.0");
    EXPECT_EQ(MsExchange::FormatFileVersion(0xFFFFFFFF, 0xFFFF0000), L"65535.65535.65535.0");
}

TEST(ExchangeBuildEseLibraryPath, AddsOneSeparatorOnlyWhenMissing) {
    const struct {
        const wchar_t* installPath;
        const wchar_t* libraryPath;
    } cases[] = {
        {L"C:\\Exchange", L"C:\\Exchange\\bin\\ese.dll"},
        {L"C:\\Exchange\\", L"C:\\Exchange\\bin\\ese.dll"},
        {L"C:/Exchange/", L"C:/Exchange/bin\\ese.dll"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MsExchange::BuildEseLibraryPath(c.installPath), c.libraryPath);
    }
}

TEST(ExchangeArchitectureGate, ProbesOnlySixtyFourBitWindows) {
    const struct {
        uint16_t architecture;
        bool wow64;
        bool probed;
    } cases[] = {
        {9, false, true},        // x64
        {12, false, true},       // ARM64
        {6, false, true},        // IA-64
        {0, false, false},       // x86
        {5, false, false},       // ARM
        {0xFFFF, false, false},  // unknown
        {0, true, true},         // a WOW64 process always sits on a 64-bit Windows
        {0xFFFF, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MsExchange::IsArchitectureProbed(c.architecture, c.wow64), c.probed)
            << "architecture " << c.architecture << ", WOW64 " << c.wow64;
    }
}

}  // namespace
