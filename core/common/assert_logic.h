#pragma once

// The parts of assertion reporting that are plain text work: reading the mode setting and
// formatting the report line, the box text and the stack-trace lines.

#include <cstddef>
#include <cstdint>

namespace Common {

enum AssertModeBit : uint32_t {
    kAssertBreak = 0x01,   // "break": break into an attached debugger
    kAssertDebug = 0x02,   // "debug": debugger output
    kAssertLog = 0x04,     // "log": the log destination
    kAssertEvent = 0x08,   // "event": the trace hook
    kAssertMsgBox = 0x10,  // "msgbox": the Abort/Retry/Ignore box
    kAssertAbort = 0x20,   // "abort": abort the process after reporting
    kAssertStack = 0x40,   // "stack": a stack trace with the debug, log and event outputs
};

constexpr uint32_t kAssertDefaultMode = kAssertDebug | kAssertLog | kAssertEvent | kAssertStack;
constexpr uint32_t kAssertIgnoreAll = 0xFFFFFFFF;

// Size of the buffers of the report line and the box text, terminator included.
constexpr size_t kAssertTextLimit = 540;

struct AssertModeSetting {
    uint32_t mode;
    // Whether the log destination is to be read (the mode was set and asks for "log").
    bool readLogDestination;
};

// Reads the value of the mode variable (null: unset). A hexadecimal number, with or without
// "0x", other than 0 is taken as the bits; anything else is a list of words separated by
// spaces, where one unknown word means "ignore every assertion" (the destination is still read
// when "log" is among the words).
AssertModeSetting ParseAssertMode(const char* value);

enum class AssertLogTarget { kUnchanged, kStandardOutput, kStandardError, kFile };

// What the log-destination variable names (null: unset).
AssertLogTarget ClassifyAssertLogDestination(const char* value);

// "Assertion failed: <expression>, file <file>, line <line>" into `buffer` of kAssertTextLimit
// bytes; false (and an empty buffer) when it does not fit.
bool FormatAssertReportLine(char* buffer, const char* expression, const char* file, int line);

// The text of the assertion box into `buffer` of kAssertTextLimit bytes, the program, file and
// expression each cut to their last 60 characters; false when it does not fit.
bool FormatAssertBoxText(char* buffer, const char* program, const char* file, int line, const char* expression);

// One stack-trace line: the address, the symbol (null: unknown) and, when `sourceFile` is not
// null, " <file>, line <n>". Cut to fit `size` bytes.
void FormatStackFrameLine(char* buffer, size_t size, uint64_t address, const char* symbol, const char* sourceFile,
                          int sourceLine);

}  // namespace Common
