#include "driver/log_collecting_tracer.h"

#include <gtest/gtest.h>

#include "core/common/error.h"

namespace {

using Strings = std::vector<std::string>;

TEST(LogCollectingTracer, SortsTextsByLevelInArrivalOrderAsHandedOver) {
    Hostprobe::LogCollectingTracer tracer;
    tracer.Trace("x", 3, 0, 0, L"w");
    tracer.Trace("x", 2, 0, 0, L"I00000000: [MSSQL Native] Microsoft SQL Server detected");
    tracer.Trace("x", 6, 0, 0, L"blocked");
    tracer.TraceData("x", 4, 1, 2, L"data \u00e9", "block", 5);
    tracer.Trace("x", 5, 0, 0, L"c");
    tracer.Trace("x", 2, 0, 0, L" padded \r\n");
    tracer.Trace("x", 2, 0, 0, L" padded \r\n");
    tracer.Trace("x", 1, 0, 0, L"debug is dropped");
    tracer.Trace("x", 0, 0, 0, L"level 0 is dropped");
    tracer.Trace("x", 2, 0, 0, nullptr);
    tracer.TraceData("x", 3, 0, 0, nullptr, "block", 5);
    tracer.TraceError("x", 4, Common::Error::FromText({0, "f", "fn", 1}, 5, L"errors are not collected"));
    EXPECT_EQ(tracer.InfoMessagesUtf8(),
              (Strings{"I00000000: [MSSQL Native] Microsoft SQL Server detected", " padded \r\n", " padded \r\n"}));
    EXPECT_EQ(tracer.WarningMessagesUtf8(), (Strings{"w"}));
    EXPECT_EQ(tracer.ErrorMessagesUtf8(), (Strings{"blocked", "data \xC3\xA9", "c"}));
}

}  // namespace
