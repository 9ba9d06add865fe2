#include "enterprise/applications/msexchange/detection/exchange_detection_logic.h"

#include <gtest/gtest.h>

namespace {

// Base 10 only, after the C locale's white space, up to the first dot; saturates like strtol.
TEST(ExchangeParseMajorVersion, StrtolOnTheTextBeforeTheFirstDot) {
    const std::pair<const wchar_t*, uint32_t> parsed[] = {
        {L"15", 15},    {L"15.1.2507.6", 15}, {L"14.x.-1.y", 14}, {L"015.0", 15},
        {L" 15.0", 15}, {L"+15.0", 15},       {L"-0.1", 0},       {L"2147483648.0", 2147483647u}};
    for (const auto& [text, expected] : parsed) {
        uint32_t major = 12345;
        EXPECT_TRUE(MsExchange::ParseMajorVersion(text, major)) << testing::PrintToString(text);
        EXPECT_EQ(major, expected) << testing::PrintToString(text);
    }
    for (const wchar_t* text :
         {L"", L".15", L"v15.0", L"-1.0", L"15 .0", L"0x0F.0", L"+", L"\u00a015", L"\uff11\uff15.0"}) {
        uint32_t major = 12345;
        EXPECT_FALSE(MsExchange::ParseMajorVersion(text, major)) << testing::PrintToString(text);
        EXPECT_EQ(major, 0u) << testing::PrintToString(text);
    }
}

TEST(ExchangeFormatFileVersion, TheFourSixteenBitFieldsInDecimal) {
    EXPECT_EQ(MsExchange::FormatFileVersion(0x000F0001, 0x09CB0006), L"15.1.2507.6");
    EXPECT_EQ(MsExchange::FormatFileVersion(0xFFFFFFFF, 0xFFFF0000), L"65535.65535.65535.0");
}

// Damaged resources give lengths past their own bytes; the fixed file info must fit both the
// bytes read and the root block's own length.
TEST(ExchangeFixedFileInfo, IsReadOnlyWhereTheResourceHoldsItWhole) {
    const struct {
        size_t offset, valueLength, bufferSize;
        uint16_t declaredLength;
        bool inside;
    } cases[] = {
        {40, 52, 188, 92, true},        // a whole resource, in a buffer with room for its conversion
        {40, 52, 92, 0x7000, true},     // declaring more than it holds
        {40, 0x2000, 188, 92, true},    // a value declared longer than the structure
        {40, 52, 91, 92, false},        // one byte short of the buffer
        {40, 52, 188, 91, false},       // one byte short of the declared length
        {40, 51, 188, 92, false},       // a value shorter than the structure
        {12, 52, 16, 6, false},         // a header alone
        {200, 52, 188, 0xFFFF, false},  // past the buffer
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MsExchange::IsFixedFileInfoInside(c.offset, c.valueLength, c.bufferSize, c.declaredLength), c.inside)
            << c.offset << " " << c.valueLength << " " << c.bufferSize << " " << c.declaredLength;
    }
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
