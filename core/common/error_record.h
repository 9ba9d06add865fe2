#pragma once

// The records behind Common::Error. Each record is one heap block that starts with the fixed
// part below; what follows depends on its kind, whose table of operations the record carries.

#include <atomic>
#include <cstdint>
#include <string>

#include "core/common/error.h"

namespace Common {

struct ErrorRecordKind;

struct ErrorRecord {
    constexpr ErrorRecord(uint32_t code, const ErrorRecordKind* kind, const ErrorLocation& location,
                          uint32_t extra) noexcept
        : refs(1), code(code), cause(nullptr), kind(kind), location(location), extra(extra) {}

    std::atomic<uint32_t> refs;
    uint32_t code;
    ErrorRecord* cause;
    const ErrorRecordKind* kind;
    ErrorLocation location;
    // System-error records: the system code in HRESULT form; all others: the block's size.
    uint32_t extra;
};

// A record that carries a message. `textRef` is the text's address when the text lies in the
// message catalogue; otherwise the text is copied behind this part and `textRef` is the copy's
// offset from the record's start. A record holds a copy exactly when `extra` exceeds the size
// of this part.
struct TextErrorRecord : ErrorRecord {
    constexpr TextErrorRecord(uint32_t code, const ErrorRecordKind* kind, const ErrorLocation& location, uint32_t extra,
                              uintptr_t textRef) noexcept
        : ErrorRecord(code, kind, location, extra), textRef(textRef) {}

    uintptr_t textRef;
};

struct ErrorRecordKind {
    void (*destroy)(ErrorRecord* record);
    // A copy with one reference and no cause, or null when memory is short.
    ErrorRecord* (*clone)(const ErrorRecord* record);
    std::wstring (*text)(const ErrorRecord* record);
    uint32_t (*numericParameter)(const ErrorRecord* record, const char* name);
    const char* (*stringParameter)(const ErrorRecord* record, const char* name);
    const wchar_t* (*wideStringParameter)(const ErrorRecord* record, const char* name);
    const char* (*parameterNames)(const ErrorRecord* record);
};

// The record every constructor hands out (with a reference added) when allocation fails.
// Never freed.
ErrorRecord& OutOfMemoryRecord() noexcept;

// The kinds, for code that needs to tell records apart.
extern const ErrorRecordKind kSystemErrorKind;
extern const ErrorRecordKind kCodeOnlyKind;
extern const ErrorRecordKind kNarrowTextKind;
extern const ErrorRecordKind kWideTextKind;

// The text of a record that holds a text (either text kind).
const void* RecordTextData(const TextErrorRecord& record) noexcept;

}  // namespace Common
