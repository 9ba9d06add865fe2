#pragma once

// Records the messages that product code logs in this test program. The test program is
// linked with --wrap for the logging call, so every call lands here instead of the logging
// library; calls made while no LogCapture exists are dropped.

#include <cstdint>
#include <string>
#include <vector>

namespace ExchangeTests {

struct CapturedMessage {
    int32_t level;
    std::string function;
    std::string file;
    std::string text;  // the format applied to its arguments

    bool operator==(const CapturedMessage& other) const {
        return level == other.level && function == other.function && file == other.file && text == other.text;
    }
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<CapturedMessage>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

    void Add(CapturedMessage message) { messages_.push_back(std::move(message)); }

private:
    std::vector<CapturedMessage> messages_;
};

// Prints a message as gtest shows it on a mismatch.
void PrintTo(const CapturedMessage& message, std::ostream* out);

}  // namespace ExchangeTests
