#include "driver/logging_hooks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/common/error.h"
#include "core/common/utf.h"
#include "driver/log_collecting_tracer.h"
#include "logging/log.h"
#include "logging/logging_manager.h"

namespace {

constexpr char kTraceSourceFile[] = "tests/driver/logging_hooks_test";

// A block of the library's allocator as a string, freed.
std::string Take(char* block) {
    std::string text = block != nullptr ? block : "(null)";
    Logging::Free(block);
    return text;
}

const Common::ErrorLocation kWhere{0, "core/file/x", "File::Open", 12};

TEST(ErrorFormatterHook, ShortFormIsTheErrorsTextLongFormItsFullTextCodeInHalves) {
    const Common::Error error = Common::Error::FromText(kWhere, 0xC10005, L"Zugriff verweigert \u00e4");
    char* text = nullptr;
    uint16_t high = 0;
    uint16_t low = 0;
    Hostprobe::FormatErrorForLogging("files", 4, &error, &text, true, &high, &low);
    EXPECT_EQ(Take(text), "Zugriff verweigert \xC3\xA4");
    EXPECT_EQ(high, 0xC1);
    EXPECT_EQ(low, 5);

    Hostprobe::FormatErrorForLogging("files", 4, &error, &text, false, nullptr, nullptr);
    EXPECT_EQ(Take(text), Common::Utf16ToUtf8(error.FullText(4, "files")));

    // Only the halves.
    high = low = 7;
    Hostprobe::FormatErrorForLogging("files", 4, &error, nullptr, true, &high, nullptr);
    EXPECT_EQ(high, 0xC1);
    EXPECT_EQ(low, 7);
}

TEST(ErrorFormatterHook, AnEmptyErrorGivesAnEmptyTextAndANullErrorNothing) {
    const Common::Error empty;
    char* text = nullptr;
    uint16_t high = 9;
    uint16_t low = 9;
    Hostprobe::FormatErrorForLogging("c", 2, &empty, &text, true, &high, &low);
    EXPECT_EQ(Take(text), "");
    EXPECT_EQ(high, 0);
    EXPECT_EQ(low, 0);

    text = nullptr;
    high = low = 9;
    Hostprobe::FormatErrorForLogging("c", 2, nullptr, &text, true, &high, &low);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(high, 9);
    EXPECT_EQ(low, 9);
}

Logging::TraceField Field(const char* name, int32_t type) {
    Logging::TraceField field{};
    field.name = name;
    field.type = type;
    return field;
}

TEST(FieldFormatterHook, EveryTypeTagHasItsText) {
    Logging::TraceField fields[12];
    fields[0] = Field("i", 0);
    fields[0].value.i32 = -5;
    fields[1] = Field("u", 1);
    fields[1].value.u32 = 4000000000u;
    fields[2] = Field("d", 2);
    fields[2].value.d = 0.1;
    fields[3] = Field("f", 3);
    fields[3].value.d = 1.0 / 3;
    fields[4] = Field("w", 4);
    fields[4].value.wide = L"wide \u00e9";
    fields[5] = Field("l", 5);
    fields[5].value.i64 = -9223372036854775807LL - 1;
    fields[6] = Field("ul", 6);
    fields[6].value.u64 = 18446744073709551615ULL;
    fields[7] = Field("n", 7);
    fields[7].value.narrow = "byte\xE9";
    fields[8] = Field("n0", 7);
    fields[8].value.narrow = nullptr;
    fields[9] = Field("b", 8);
    fields[9].value.raw = 0;
    fields[9].value.b = true;
    fields[10] = Field("b0", 8);
    fields[10].value.b = false;
    fields[11] = Field("x", 99);
    fields[11].value.u64 = 77;
    char* out = nullptr;
    Hostprobe::FormatFieldsForLogging(L"Opened \u00fc", fields, 12, &out);
    EXPECT_EQ(Take(out),
              "Opened \xC3\xBC; i=\"-5\", u=\"4000000000\", d=\"0.1\", f=\"0.3333333333333333\", w=\"wide \xC3\xA9\", "
              "l=\"-9223372036854775808\", ul=\"18446744073709551615\", n=\"byte\xC3\xA9\", n0=\"\", b=\"1\", "
              "b0=\"0\", x=\"\"");
}

TEST(FieldFormatterHook, NoFieldsNoSuffix) {
    Logging::TraceField one = Field("a", 0);
    char* out = nullptr;
    Hostprobe::FormatFieldsForLogging(L"text", &one, 0, &out);
    EXPECT_EQ(Take(out), "text");
    Hostprobe::FormatFieldsForLogging(L"text", nullptr, 3, &out);
    EXPECT_EQ(Take(out), "text");
    // A negative count still says that fields were meant, but none is below it.
    Hostprobe::FormatFieldsForLogging(L"text", &one, -1, &out);
    EXPECT_EQ(Take(out), "text; ");
    Hostprobe::FormatFieldsForLogging(nullptr, &one, 1, &out);
    EXPECT_EQ(Take(out), "; a=\"0\"");
    Hostprobe::FormatFieldsForLogging(L"text", &one, 1, nullptr);  // nowhere to put it: nothing happens
}

TEST(DefaultChannelRouting, TheTracerGetsInformationAndAboveAsReportLines) {
    static constexpr char kFunction[] = "Tests::Routing";
    Hostprobe::LogCollectingTracer tracer;
    ASSERT_EQ(Hostprobe::RouteDefaultChannelTo(&tracer), Logging::LOGGING_RC_NOERROR);
    LOG_TRACE(Logging::WARNING, kFunction, "[Test] warned %d", 1);
    LOG_TRACE(Logging::DEBUG_TRACE, kFunction, "[Test] not collected");
    LOG_TRACE(Logging::INFORMATION, kFunction, "[Test] byte \xE9 widened");
    LOG_TRACE(Logging::CRITICAL_ERROR, kFunction, "[Test] critical");
    Logging::LoggingManager::Instance().TraceData(nullptr, Logging::ERROR_TRACE, 0, 0, L"with data", "x", 1);
    Logging::LoggingManager::Instance().TraceError(nullptr, Logging::ERROR_TRACE,
                                                   Common::Error::FromCode(kWhere, 0xC10001));
    EXPECT_EQ(tracer.InfoMessagesUtf8(), std::vector<std::string>{"I00000000: [Test] byte \xC3\xA9 widened"});
    EXPECT_EQ(tracer.WarningMessagesUtf8(), std::vector<std::string>{"W00000000: [Test] warned 1"});
    EXPECT_EQ(tracer.ErrorMessagesUtf8(), (std::vector<std::string>{"C00000000: [Test] critical", "with data"}));
    // Removing the channel gives the tracer back; the next trace recreates the debugger.
    char* name = Logging::LoggingManager::Instance().GetDefaultChannel();
    EXPECT_EQ(Logging::LoggingManager::Instance().RemoveChannel(name), 0);
    Logging::Free(name);
    LOG_TRACE(Logging::WARNING, kFunction, "[Test] after");
    EXPECT_EQ(tracer.WarningMessagesUtf8().size(), 1u);
}

}  // namespace
