#pragma once

// The program's error value: a handle to an immutable, reference-counted chain of error
// records. Copying an error costs one atomic increment; errors are passed by value or thrown.

#include <cstdint>
#include <string>
#include <type_traits>

namespace Common {

struct ErrorRecord;

// Where an error record was made. `tag` identifies the site: a constant of the source file
// plus the line (see SiteTag).
struct ErrorLocation {
    uint64_t tag;
    const char* file;
    const char* function;
    uint32_t line;
};

// The per-file part of a site tag: FNV-1a over the source path, so that it is fixed per file
// and needs no registry of numbers.
constexpr uint64_t SourceFileTag(const char* file) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (const char* p = file; *p != '\0'; ++p) {
        hash = (hash ^ static_cast<unsigned char>(*p)) * 0x100000001B3ull;
    }
    return hash;
}

constexpr uint64_t SiteTag(const char* file, uint32_t line) {
    return SourceFileTag(file) + line;
}

// Code of the records that carry a Windows error, HRESULT or NTSTATUS.
constexpr uint32_t kSystemErrorCode = 0xFFF0;
// Code of the record returned when a record cannot be allocated.
constexpr uint32_t kOutOfMemoryCode = 0xFFF2;
// Value of every record's "$module" parameter.
constexpr char kErrorModuleName[] = "hostprobe_vsa64_42608";

class Error {
public:
    Error() noexcept = default;
    Error(const Error& other) noexcept;
    Error(Error&& other) noexcept;
    Error& operator=(const Error& other) noexcept;
    Error& operator=(Error&& other) noexcept;
    ~Error();

    // An error whose head is a code-only record; code 0 gives an empty error.
    static Error FromCode(const ErrorLocation& location, uint32_t code) noexcept;
    // An error whose head carries a message (null: none); code 0 gives an empty error. A text
    // inside the message catalogue in use is referenced, any other text is copied.
    static Error FromText(const ErrorLocation& location, uint32_t code, const char* text) noexcept;
    static Error FromText(const ErrorLocation& location, uint32_t code, const wchar_t* text) noexcept;

    // Attach a system-error record as the head's cause, replacing an earlier cause, and return
    // this error. A Win32 code becomes an HRESULT (values below 1 unchanged, others
    // 0x80070000 | low 16 bits); an NTSTATUS gets the NT-facility bit 0x10000000.
    Error& AddWindowsError(int32_t code) noexcept;
    Error& AddHResult(int32_t hresult) noexcept;
    Error& AddNTStatus(int32_t status) noexcept;
    // Attach the chain of `cause` as the head's cause in the same way (an empty cause changes
    // nothing); the chain is shared, not copied.
    Error& AddCause(const Error& cause) noexcept;

    bool IsEmpty() const noexcept { return head_ == nullptr; }
    // The head's cause (empty when there is none).
    Error Cause() const noexcept;

    // The head's code, its upper 16 bits (module part) and lower 16 bits; 0 for an empty error.
    uint32_t Code() const noexcept;
    uint16_t Module() const noexcept { return static_cast<uint16_t>(Code() >> 16); }
    uint16_t Number() const noexcept { return static_cast<uint16_t>(Code() & 0xFFFF); }
    // The head's location; all zero for an empty error.
    ErrorLocation Location() const noexcept;

    // The head record's own message (empty for an empty error).
    std::wstring Text() const;
    // The head's parameters: a comma-separated list of names, and the value of one by name
    // (0 / null when the head has no such parameter).
    const char* ParameterNames() const noexcept;
    uint32_t NumericParameter(const char* name) const noexcept;
    const char* StringParameter(const char* name) const noexcept;
    const wchar_t* WideStringParameter(const char* name) const noexcept;

    // The multi-line description of the whole chain with localised labels. The trace level is
    // shown when below 255, the channel when not null and not empty.
    std::wstring FullText(int32_t level, const char* channel) const;

    // The head record, for code that walks the chain itself; null for an empty error.
    const ErrorRecord* Head() const noexcept { return head_; }

private:
    explicit Error(ErrorRecord* head) noexcept : head_(head) {}
    Error& Attach(ErrorRecord* record) noexcept;

    ErrorRecord* head_ = nullptr;
};

}  // namespace Common

// The location of an error site: source path without extension, qualified function name and
// line, all constant. The tag is computed at compile time.
#define COMMON_ERROR_SITE(file, function, line)                                                                        \
    (::Common::ErrorLocation{::std::integral_constant<uint64_t, ::Common::SiteTag(file, line)>::value, file, function, \
                             line})

// The current line of a unit that defines `kTraceSourceFile` (as for LOG_TRACE).
#define COMMON_ERROR_HERE(function) COMMON_ERROR_SITE(kTraceSourceFile, function, __LINE__)
