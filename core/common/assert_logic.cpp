#include "core/common/assert_logic.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace Common {

namespace {

// Accepts only a non-empty run of hexadecimal digits that fits 32 bits.
bool ParseHex32(const char* text, uint32_t* value) {
    if (*text == '\0') {
        return false;
    }
    uint32_t result = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        const char c = *p;
        uint32_t digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        if ((result >> 28) != 0) {
            return false;
        }
        result = (result << 4) | digit;
    }
    *value = result;
    return true;
}

struct ModeWord {
    const char* word;
    uint32_t bit;
};

constexpr ModeWord kModeWords[] = {
    {"break", kAssertBreak},   {"debug", kAssertDebug}, {"log", kAssertLog},     {"event", kAssertEvent},
    {"msgbox", kAssertMsgBox}, {"abort", kAssertAbort}, {"stack", kAssertStack},
};

// Only this many characters of a word list are read.
constexpr size_t kWordListLimit = 127;

const char* LastCharacters(const char* text, size_t count) {
    if (text == nullptr) {
        return "";
    }
    const size_t length = std::strlen(text);
    return length > count ? text + (length - count) : text;
}

bool FitsBuffer(int written) {
    return written >= 0 && static_cast<size_t>(written) < kAssertTextLimit;
}

}  // namespace

AssertModeSetting ParseAssertMode(const char* value) {
    if (value == nullptr || *value == '\0') {
        return {kAssertDefaultMode, false};
    }
    const bool prefixed = std::strstr(value, "0x") != nullptr || std::strstr(value, "0X") != nullptr;
    // A prefixed value loses its first two characters, wherever its "0x" stands.
    const char* digits = prefixed ? value + std::min<size_t>(2, std::strlen(value)) : value;
    uint32_t number = 0;
    if (ParseHex32(digits, &number) && number != 0) {
        return {number, (number & kAssertLog) != 0};
    }

    // An unknown word makes every assertion ignored, but the words are all read: "log" still
    // reads the log destination.
    AssertModeSetting setting{0, false};
    bool unknown = false;
    const size_t length = std::min(std::strlen(value), kWordListLimit);
    size_t start = 0;
    while (start < length) {
        size_t end = start;
        while (end < length && value[end] != ' ') {
            ++end;
        }
        if (end > start) {
            const size_t wordLength = end - start;
            bool known = false;
            for (const ModeWord& entry : kModeWords) {
                if (std::strlen(entry.word) == wordLength && std::memcmp(entry.word, value + start, wordLength) == 0) {
                    setting.mode |= entry.bit;
                    setting.readLogDestination |= entry.bit == kAssertLog;
                    known = true;
                    break;
                }
            }
            unknown |= !known;
        }
        start = end + 1;
    }
    if (unknown) {
        setting.mode = kAssertIgnoreAll;
    }
    return setting;
}

AssertLogTarget ClassifyAssertLogDestination(const char* value) {
    if (value == nullptr) {
        return AssertLogTarget::kUnchanged;
    }
    if (std::strcmp(value, "stdout") == 0) {
        return AssertLogTarget::kStandardOutput;
    }
    if (std::strcmp(value, "stderr") == 0) {
        return AssertLogTarget::kStandardError;
    }
    return AssertLogTarget::kFile;
}

bool FormatAssertReportLine(char* buffer, const char* expression, const char* file, int line) {
    const int written =
        std::snprintf(buffer, kAssertTextLimit, "Assertion failed: %s, file %s, line %d", expression, file, line);
    if (!FitsBuffer(written)) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

bool FormatAssertBoxText(char* buffer, const char* program, const char* file, int line, const char* expression) {
    constexpr size_t kShownCharacters = 60;
    const int written = std::snprintf(buffer, kAssertTextLimit,
                                      "Assertion failed!\n\nProgram: %s\nFile: %s\nLine: %i\n\nExpression: %s\n\n"
                                      "(Press Retry to debug the application)",
                                      LastCharacters(program, kShownCharacters), LastCharacters(file, kShownCharacters),
                                      line, LastCharacters(expression, kShownCharacters));
    if (!FitsBuffer(written)) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

void FormatStackFrameLine(char* buffer, size_t size, uint64_t address, const char* symbol, const char* sourceFile,
                          int sourceLine) {
    if (size == 0) {
        return;
    }
    const auto high = static_cast<unsigned>(address >> 32);
    const auto low = static_cast<unsigned>(address & 0xFFFFFFFF);
    int used =
        high == 0 ? std::snprintf(buffer, size, "0x%X", low) : std::snprintf(buffer, size, "0x%X%08X", high, low);
    if (symbol != nullptr && used >= 0 && static_cast<size_t>(used) < size) {
        used += std::snprintf(buffer + used, size - used, " %s", symbol);
    }
    if (sourceFile != nullptr && used >= 0 && static_cast<size_t>(used) < size) {
        std::snprintf(buffer + used, size - used, " %s, line %i", sourceFile, sourceLine);
    }
}

}  // namespace Common
