#include "driver/log_collecting_tracer.h"

#include <gtest/gtest.h>

#include "core/common/error.h"

namespace {

using Strings = std::vector<std::string>;

TEST(LogCollectingTracer, SortsByLevelAndKeepsArrivalOrderAndDuplicates) {
    Hostprobe::LogCollectingTracer tracer;
    tracer.Trace("x", 3, 0, 0, L"w");
    tracer.Trace("x", 2, 0, 0, L"i");
    tracer.Trace("x", 6, 0, 0, L"blocked");
    tracer.Trace("x", 4, 0, 0, L"e");
    tracer.Trace("x", 5, 0, 0, L"c");
    tracer.Trace("x", 2, 0, 0, L"i");
    tracer.Trace("x", 1, 0, 0, L"debug is dropped");
    tracer.Trace("x", 0, 0, 0, L"level 0 is dropped");
    tracer.Trace("x", 2, 0, 0, nullptr);
    EXPECT_EQ(tracer.InfoMessagesUtf8(), (Strings{"i", "i"}));
    EXPECT_EQ(tracer.WarningMessagesUtf8(), (Strings{"w"}));
    EXPECT_EQ(tracer.ErrorMessagesUtf8(), (Strings{"blocked", "e", "c"}));
}

TEST(LogCollectingTracer, DataMessagesKeepTheirTextErrorsAreNotCollected) {
    Hostprobe::LogCollectingTracer tracer;
    const char data[] = "block";
    tracer.TraceData("x", 3, 1, 2, L"with data \u00e9", data, sizeof data);
    tracer.TraceData("x", 3, 1, 2, nullptr, data, sizeof data);
    tracer.TraceError("x", 4, Common::Error::FromText({0, "f", "fn", 1}, 5, L"ignored"));
    EXPECT_EQ(tracer.WarningMessagesUtf8(), (Strings{"with data \xC3\xA9"}));
    EXPECT_TRUE(tracer.ErrorMessagesUtf8().empty());
}

TEST(LogCollectingTracer, StoresTextExactlyAsHandedOver) {
    Hostprobe::LogCollectingTracer tracer;
    tracer.Trace("x", 2, 0, 0, L"I00000000: [MSSQL Native] Microsoft SQL Server detected");
    tracer.Trace("x", 2, 0, 0, L" padded \r\n");
    EXPECT_EQ(tracer.InfoMessagesUtf8(),
              (Strings{"I00000000: [MSSQL Native] Microsoft SQL Server detected", " padded \r\n"}));
}

}  // namespace
