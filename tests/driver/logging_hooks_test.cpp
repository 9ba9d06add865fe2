#include "driver/logging_hooks.h"

#include <gtest/gtest.h>

#include "core/common/error.h"
#include "core/common/utf.h"
#include "driver/log_collecting_tracer.h"
#include "logging/log.h"
#include "logging/logging_manager.h"

namespace {

using Strings = std::vector<std::string>;
constexpr char kTraceSourceFile[] = "tests/driver/logging_hooks_test";
const Common::ErrorLocation kWhere{0, "core/file/x", "File::Open", 12};

// A block of the library's allocator as a string, freed.
std::string Take(char*& block) {
    std::string text = block != nullptr ? block : "(null)";
    Logging::Free(block);
    block = nullptr;
    return text;
}

TEST(ErrorFormatterHook, ShortFormTextLongFormChainTextCodeInHalvesNullPointersSkipped) {
    const Common::Error error = Common::Error::FromText(kWhere, 0xC10005, L"Zugriff verweigert \u00e4");
    char* text = nullptr;
    uint16_t high = 0, low = 0;
    Hostprobe::FormatErrorForLogging("files", 4, &error, &text, true, &high, &low);
    EXPECT_EQ(Take(text), "Zugriff verweigert \xC3\xA4");
    EXPECT_EQ(high << 16 | low, 0xC1 << 16 | 5);
    Hostprobe::FormatErrorForLogging("files", 4, &error, &text, false, nullptr, nullptr);
    EXPECT_EQ(Take(text), Common::Utf16ToUtf8(error.FullText(4, "files")));
    high = low = 7;
    Hostprobe::FormatErrorForLogging("files", 4, &error, nullptr, true, &high, nullptr);
    EXPECT_EQ(high << 16 | low, 0xC1 << 16 | 7);

    const Common::Error empty;
    Hostprobe::FormatErrorForLogging("c", 2, &empty, &text, true, &high, &low);
    EXPECT_EQ(Take(text), "");
    EXPECT_EQ(high << 16 | low, 0);
    high = low = 9;
    Hostprobe::FormatErrorForLogging("c", 2, nullptr, &text, true, &high, &low);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(high << 16 | low, 9 << 16 | 9);
}

TEST(FieldFormatterHook, EveryTypeTagHasItsTextAndAnEmptyListNoSuffix) {
    Logging::TraceField fields[12] = {};
    auto set = [&fields](int i, const char* name, int32_t type) -> auto& {
        fields[i].name = name;
        fields[i].type = type;
        return fields[i].value;
    };
    set(0, "i", 0).i32 = -5;
    set(1, "u", 1).u32 = 4000000000u;
    set(2, "d", 2).d = 0.1;
    set(3, "f", 3).d = 1.0 / 3;
    set(4, "w", 4).wide = L"wide \u00e9";
    set(5, "l", 5).i64 = INT64_MIN;
    set(6, "ul", 6).u64 = UINT64_MAX;
    set(7, "n", 7).narrow = "byte\xE9";
    set(8, "n0", 7).narrow = nullptr;
    set(9, "b", 8).b = true;
    set(10, "b0", 8).raw = ~0xFFull;  // only the boolean's own byte counts
    set(11, "x", 99).u64 = 77;
    char* out = nullptr;
    Hostprobe::FormatFieldsForLogging(L"Opened \u00fc", fields, 12, &out);
    EXPECT_EQ(Take(out),
              "Opened \xC3\xBC; i=\"-5\", u=\"4000000000\", d=\"0.1\", f=\"0.3333333333333333\", w=\"wide \xC3\xA9\", "
              "l=\"-9223372036854775808\", ul=\"18446744073709551615\", n=\"byte\xC3\xA9\", n0=\"\", b=\"1\", "
              "b0=\"0\", x=\"\"");
    Hostprobe::FormatFieldsForLogging(L"text", fields, 0, &out);
    EXPECT_EQ(Take(out), "text");
    Hostprobe::FormatFieldsForLogging(L"text", nullptr, 3, &out);
    EXPECT_EQ(Take(out), "text");
    Hostprobe::FormatFieldsForLogging(L"text", fields, -1, &out);  // fields meant, none below the count
    EXPECT_EQ(Take(out), "text; ");
    Hostprobe::FormatFieldsForLogging(nullptr, fields, 1, &out);
    EXPECT_EQ(Take(out), "; i=\"-5\"");
    Hostprobe::FormatFieldsForLogging(L"text", fields, 1, nullptr);  // nowhere to put it: nothing happens
}

TEST(DefaultChannelRouting, TheTracerGetsInformationAndAboveAsReportLines) {
    static constexpr char kFunction[] = "Tests::Routing";
    Hostprobe::LogCollectingTracer tracer;
    ASSERT_EQ(Hostprobe::RouteDefaultChannelTo(&tracer), Logging::LOGGING_RC_NOERROR);
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    LOG_TRACE(Logging::WARNING, kFunction, "[Test] warned %d", 1);
    LOG_TRACE(Logging::DEBUG_TRACE, kFunction, "[Test] not collected");
    LOG_TRACE(Logging::INFORMATION, kFunction, "[Test] byte \xE9 widened");
    // UTF-8 bytes given as narrow text are widened byte by byte; wide text keeps its characters.
    LOG_TRACE(Logging::INFORMATION, kFunction, "[Test] %s, %S", "\xC3\xA9", L"\u0416\u00e9");
    LOG_TRACE(Logging::CRITICAL_ERROR, kFunction, "[Test] critical");
    manager.TraceData(nullptr, Logging::ERROR_TRACE, 0, 0, L"with data", "x", 1);
    manager.TraceError(nullptr, Logging::ERROR_TRACE, Common::Error::FromCode(kWhere, 0xC10001));
    EXPECT_EQ(tracer.InfoMessagesUtf8(), (Strings{"I00000000: [Test] byte \xC3\xA9 widened",
                                                  "I00000000: [Test] \xC3\x83\xC2\xA9, \xD0\x96\xC3\xA9"}));
    EXPECT_EQ(tracer.WarningMessagesUtf8(), Strings{"W00000000: [Test] warned 1"});
    EXPECT_EQ(tracer.ErrorMessagesUtf8(), (Strings{"C00000000: [Test] critical", "with data"}));
    char* name = manager.GetDefaultChannel();
    EXPECT_EQ(manager.RemoveChannel(name), 0);  // gives the tracer back
    Logging::Free(name);
    LOG_TRACE(Logging::WARNING, kFunction, "[Test] after");
    EXPECT_EQ(tracer.WarningMessagesUtf8().size(), 1u);
}

}  // namespace
