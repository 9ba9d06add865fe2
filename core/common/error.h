#pragma once

#include <cstdint>
#include <string>

namespace Common {

struct ErrorRecord;

// Where an error record was made.
struct ErrorLocation {
    uint64_t tag;
    const char* file;
    const char* function;
    uint32_t line;
};

// A handle to an immutable, reference-counted chain of error records; empty means "no error".
class Error {
public:
    Error() noexcept = default;
    Error(const Error& other) noexcept;
    Error(Error&& other) noexcept;
    Error& operator=(const Error& other) noexcept;
    Error& operator=(Error&& other) noexcept;
    ~Error();

    // An error whose head is a code-only record; code 0 gives an empty error.
    static Error FromCode(const ErrorLocation& location, uint32_t code);
    // An error whose head carries a message; code 0 gives an empty error.
    static Error FromText(const ErrorLocation& location, uint32_t code, const char* text);
    static Error FromText(const ErrorLocation& location, uint32_t code, const wchar_t* text);

    bool IsEmpty() const noexcept { return head_ == nullptr; }
    uint32_t Code() const noexcept;
    // The head record's own message (empty for an empty error).
    std::wstring Text() const;
    // The multi-line description of the whole chain, with trace level and channel (null: none).
    std::wstring FullText(int32_t level, const char* channel) const;

private:
    explicit Error(ErrorRecord* head) noexcept : head_(head) {}
    ErrorRecord* head_ = nullptr;
};

}  // namespace Common
