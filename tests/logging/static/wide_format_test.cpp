#include "logging/static/wide_format.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

using Logging::AppendWideFormatted;

// Not declared as a printf function: the formats below include Microsoft's spellings.
std::wstring Render(size_t limit, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::wstring out = L"<";
    AppendWideFormatted(out, limit + 1, format, args);
    va_end(args);
    return out.substr(1);
}

// The runtime's own rendering, each byte widened.
template <typename... Values>
std::wstring Narrow(const char* format, Values... values) {
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, format, values...);
    std::wstring out;
    for (int i = 0; i < n; ++i) {
        out.push_back(static_cast<unsigned char>(buffer[i]));
    }
    return out;
}

TEST(WideFormat, EveryConversionAndModifierReadsItsArgumentAsPrintfDoes) {
    const size_t kLimit = 100;
    int written = -1;
    // Each format ends in "|%s" with "end": a conversion that read its argument wrongly shows there.
    const struct {
        std::wstring rendered, expected;
    } cases[] = {
        {Render(kLimit, "%d %i|%s", 42, -7, "end"), L"42 -7|end"},
        {Render(kLimit, "%hhd %hd %hhu|%s", 300, 70000, -1, "end"), L"44 4464 255|end"},
        {Render(kLimit, "%ld %lu|%s", -5L, 4000000000UL, "end"), L"-5 4000000000|end"},
        {Render(kLimit, "%lld %llu|%s", INT64_MIN, UINT64_MAX, "end"),
         L"-9223372036854775808 18446744073709551615|end"},
        {Render(kLimit, "%jd %zu %td|%s", INTMAX_MIN, SIZE_MAX, PTRDIFF_MIN, "end"),
         L"-9223372036854775808 18446744073709551615 -9223372036854775808|end"},
        {Render(kLimit, "%I64d %I32d %Id %qd %Lx|%s", INT64_MIN, -3, PTRDIFF_MIN, -4LL, 255LL, "end"),
         L"-9223372036854775808 -3 -9223372036854775808 -4 ff|end"},
        {Render(kLimit, "%o %x %X %#x %+d % d %05d %-4d|%s", 8, 255, 255, 255, 3, 3, 42, 1, "end"),
         L"10 ff FF 0xff +3  3 00042 1   |end"},
        {Render(kLimit, "%.2f %e %E %g %G %F|%s", 3.14159, 1.5, 1.5, 0.0001, 1e-10, 2.0, "end"),
         L"3.14 1.500000e+00 1.500000E+00 0.0001 1E-10 2.000000|end"},
        {Render(kLimit, "%a %A|%s", 1.0, 0.5, "end"), Narrow("%a %A|%s", 1.0, 0.5, "end")},
        {Render(kLimit, "%Lf %lf|%s", 2.5L, 0.25, "end"), L"2.500000 0.250000|end"},
        {Render(kLimit, "%c %hc %3c %-3c|%s", 'x', 'y', 'z', 'w', "end"), L"x y   z w  |end"},
        {Render(kLimit, "%s %.2s %-4s %4s %hs %hS|%s", "abc", "abc", "ab", "ab", "h", "hS", "end"),
         L"abc ab ab     ab h hS|end"},
        {Render(kLimit, "%s|%s", "caf\xC3\xA9", "end"), L"caf\u00C3\u00A9|end"},  // bytes, one unit each
        {Render(kLimit, "%p|%s", reinterpret_cast<void*>(0x1234), "end"),
         Narrow("%p|%s", reinterpret_cast<void*>(0x1234), "end")},
        {Render(kLimit, "100%% %5%|%s", "end"), L"100% %|end"},
        {Render(kLimit, "a%nb%hhn%lln|%s", &written, &written, &written, "end"), L"ab|end"},
        {Render(kLimit, "%*d|%-*d|%*d|%s", 5, 42, 4, 1, -4, 2, "end"), L"   42|1   |2   |end"},
        {Render(kLimit, "%.*f|%*.*s|%.*s|%s", 2, 3.14159, 6, 2, "abcdef", -1, "abc", "end"), L"3.14|    ab|abc|end"},
        // Wide strings and characters keep every unit.
        {Render(kLimit, "%S %ls %ws|%s", L"\u0416\u0443\u043a", L"\u00e9", L"\U0001F600", "end"),
         L"\u0416\u0443\u043a \u00e9 \U0001F600|end"},
        {Render(kLimit, "%C %lc %wc %hC|%s", L'\u0416', L'\u00e9', L'\u20ac', 'n', "end"),
         L"\u0416 \u00e9 \u20ac n|end"},
        {Render(kLimit, "[%5S][%-5ls][%.2ws][%7.3S]|%s", L"\u0416\u0443", L"ab", L"abc", L"abcdef", "end"),
         L"[   \u0416\u0443][ab   ][ab][    abc]|end"},
        {Render(kLimit, "[%*ls][%-*S][%.*S][%.*S][%3lc]|%s", 3, L"a", -3, L"b", 1, L"\U0001F600x", -1, L"all", L'c',
                "end"),
         L"[  a][b  ][][all][  c]|end"},
        {Render(kLimit, "%S|%s", static_cast<const wchar_t*>(nullptr), "end"), L"(null)|end"},
        // An unknown conversion ends the reading: the rest stays as it is written.
        {Render(kLimit, "%d %y %d|%s", 1, 2, "end"), L"1 %y %d|%s"},
        {Render(kLimit, "50%", 1), L"50%"},
        // The limit cuts wherever it falls.
        {Render(6, "%s-%S-%d", "abcd", L"\u0416\u0416", 7), L"abcd-\u0416"},
        {Render(3, "%10d", 1), L"   "},
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(cases[i].rendered, cases[i].expected) << i;
    }
    EXPECT_EQ(written, -1);  // %n stores nothing
}

TEST(WideFormat, OnlyFormatsWithAWideConversionTakeTheWideRendering) {
    for (const char* format : {"%S", "%ls", "%ws", "%C", "%lc", "%wc", "x %d %-10.*ls", "%% %S", "%s %hS %S"}) {
        EXPECT_TRUE(Logging::HasWideConversion(format)) << format;
    }
    for (const char* format :
         {"", "plain", "%s %d %c %hs %hS %hC", "%%S", "%%ls", "%y %S", "%", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(Logging::HasWideConversion(format)) << (format != nullptr ? format : "(null)");
    }
}

}  // namespace
