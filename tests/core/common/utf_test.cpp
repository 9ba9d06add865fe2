#include "core/common/utf.h"

#include <gtest/gtest.h>

namespace {

std::string Convert(std::initializer_list<wchar_t> units, size_t count = Common::kUntilNul) {
    std::wstring text(units);
    std::string out = "stale";
    Common::Utf16ToUtf8(text.c_str(), count, out);
    return out;
}

TEST(Utf16ToUtf8, EncodesEachRangeWithItsByteCount) {
    EXPECT_EQ(Convert({L'A'}), "A");
    EXPECT_EQ(Convert({0x00E9}), "\xC3\xA9");
    EXPECT_EQ(Convert({0x07FF}), "\xDF\xBF");
    EXPECT_EQ(Convert({0x0800}), "\xE0\xA0\x80");
    EXPECT_EQ(Convert({0xFFFF}), "\xEF\xBF\xBF");
    EXPECT_EQ(Convert({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Convert({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF");
}

TEST(Utf16ToUtf8, LoneSurrogatesBecomeThreeBytes) {
    EXPECT_EQ(Convert({0xD83D}), "\xED\xA0\xBD");         // high, then NUL
    EXPECT_EQ(Convert({0xDE00, L'x'}), "\xED\xB8\x80x");  // lone low
    EXPECT_EQ(Convert({0xD83D, L'x'}), "\xED\xA0\xBDx");  // high, then no low
    EXPECT_EQ(Convert({0xD83D, 0xD83D, 0xDE00}), "\xED\xA0\xBD\xF0\x9F\x98\x80");
}

TEST(Utf16ToUtf8, CountedFormStopsAtCountOrNul) {
    // A pair split by the count is not joined: the high unit stands alone.
    EXPECT_EQ(Convert({0xD83D, 0xDE00}, 1), "\xED\xA0\xBD");
    EXPECT_EQ(Convert({L'a', L'b', L'c'}, 2), "ab");
    EXPECT_EQ(Convert({L'a', L'b', L'c'}, 0), "");
    const wchar_t withNul[] = {L'a', 0, L'b'};
    std::string out;
    Common::Utf16ToUtf8(withNul, 3, out);
    EXPECT_EQ(out, "a");
}

TEST(Utf16ToUtf8, WideStringOverloadStopsAtFirstNul) {
    EXPECT_EQ(Common::Utf16ToUtf8(std::wstring(L"ab\0cd", 5)), "ab");
    EXPECT_EQ(Common::Utf16ToUtf8(std::wstring()), "");
}

}  // namespace
