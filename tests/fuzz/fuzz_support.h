#pragma once

// What the fuzz targets share: a property check that stops the run the way a crash does, so
// that libFuzzer keeps the input, and a reader that hands out pieces of the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (false)

namespace Fuzz {

// Takes numbers and strings off the front of the input; past its end every read is zero or
// empty.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint32_t U32() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    // Up to the next NUL byte (consumed) or the end.
    std::string String() {
        const size_t start = at_;
        while (at_ < size_ && data_[at_] != 0) {
            ++at_;
        }
        std::string text(reinterpret_cast<const char*>(data_) + start, at_ - start);
        at_ += at_ < size_ ? 1 : 0;
        return text;
    }
    std::string_view Rest() const { return std::string_view(reinterpret_cast<const char*>(data_) + at_, size_ - at_); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

}  // namespace Fuzz
