#include "logging/static/gate_tail.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "logging/logging_manager.h"
#include "logging/static/gate_datagrams.h"
#include "support/udp_peer.h"

namespace {

using namespace Logging;
using Lines = std::vector<std::string>;

LoggingManager& M() {
    return LoggingManager::Instance();
}

// Handles receives until `count` lines were printed (0: one receive) or nothing more comes.
Lines Pump(GateTail& tail, size_t count) {
    Lines lines;
    for (bool first = true;
         (first || lines.size() < count) && ::WaitForSingleObject(tail.Event(), 3000) == WAIT_OBJECT_0; first = false) {
        tail.OnReceived([&lines](const std::string& line) { lines.push_back(line); });
    }
    return lines;
}

// The lines with their timestamps checked and taken off.
Lines Texts(const Lines& lines) {
    Lines texts;
    const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d:\d{3} ([^\r\n]*)\n)");
    for (const std::string& line : lines) {
        std::smatch match;
        texts.push_back(std::regex_match(line, match, stamped) ? match[1].str() : "unstamped: " + line);
    }
    return texts;
}

TEST(GateTail, AnswersTheFilterRequestAtOnceAndPrintsEveryRecordOnALineWithItsTimestamp) {
    GateTail tail;
    ASSERT_TRUE(tail.Open(24100, 24300));
    GateConfig gate;
    gate.Server = "127.0.0.1";
    gate.Port = tail.Port();
    gate.Level = DEBUG_TRACE;
    ASSERT_EQ(M().TuneChannel("tail.src", gate), LOGGING_RC_NOERROR);
    ASSERT_TRUE(Pump(tail, 0).empty());  // the filter request, answered
    ASSERT_EQ(M().TuneChannel("tail.up", NullConfig()), LOGGING_RC_NOERROR);
    ASSERT_EQ(M().LinkChannel("tail.src", "tail.up"), LOGGING_RC_NOERROR);

    // Answered, the first record does not wait the 5 s the sender gives a silent receiver.
    Log(TraceLocation{"tests/tail", "Test", 1}, INFORMATION, "tail.src", "one");
    Log(TraceLocation{"tests/tail", "Test", 1}, DEBUG_TRACE, "tail.src", "two\r\n");
    Log(TraceLocation{"tests/tail", "Test", 1}, CRITICAL_ERROR, "tail.up", "linked in");
    EXPECT_EQ(Texts(Pump(tail, 3)), (Lines{"one", "two", "linked in"}));
    M().RemoveChannel("tail.up");
    M().RemoveChannel("tail.src");
}

TEST(GateTail, DamagedRecordsAreSkippedWhole) {
    GateTail tail;
    ASSERT_TRUE(tail.Open(24100, 24300));
    Gate::RecordFields fields;
    fields.timestamp = "2024-03-05 14:07:09:042 ";
    fields.text = "whole";
    std::vector<uint8_t> whole(Gate::kMaxDatagramSize);
    whole.resize(Gate::EncodeRecord(fields, whole.data()));
    std::vector<uint8_t> cut(whole.begin(), whole.end() - 3);
    std::vector<uint8_t> pointing = whole;
    pointing[32] = 0xF0;  // the text's end beyond the datagram

    TestSupport::UdpPeer peer;
    for (const std::vector<uint8_t>* datagram : {&cut, &pointing, &whole}) {
        peer.SendTo(tail.Port(), *datagram);
    }
    EXPECT_EQ(Pump(tail, 1), (Lines{"2024-03-05 14:07:09:042 whole\n"}));
}

}  // namespace
