#pragma once

// The tagged binary form in which channel configurations are saved: a sequence of values,
// each a four-byte ASCII tag followed by its data.
//   "dwrd" + 32-bit little-endian number
//   "bool" + one byte (nonzero is true)
//   "str " + 32-bit little-endian length + that many bytes

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace Logging {

// Thrown by the reader on a wrong tag, a short buffer or a length that runs past the end.
class SerialFormatError : public std::runtime_error {
public:
    SerialFormatError(const std::string& what, size_t offset) : std::runtime_error(what), offset_(offset) {}
    // Where in the buffer the bad value starts.
    size_t Offset() const noexcept { return offset_; }

private:
    size_t offset_;
};

void SerialWriteDword(std::vector<uint8_t>& out, uint32_t value);
void SerialWriteBool(std::vector<uint8_t>& out, bool value);
// Throws std::length_error for a text longer than a 32-bit length can describe.
void SerialWriteString(std::vector<uint8_t>& out, std::string_view text);

// Reads values from a borrowed buffer; the position advances only past values read whole.
class SerialReader {
public:
    SerialReader(const uint8_t* data, size_t size) noexcept : data_(data), size_(data == nullptr ? 0 : size) {}
    explicit SerialReader(const std::vector<uint8_t>& bytes) noexcept : SerialReader(bytes.data(), bytes.size()) {}

    uint32_t ReadDword();
    bool ReadBool();
    std::string ReadString();
    // The number of the next "dwrd" value without consuming it.
    uint32_t PeekDword() const;

    size_t Position() const noexcept { return position_; }
    size_t Remaining() const noexcept { return size_ - position_; }

private:
    // Checks the tag and that `length` bytes follow it; returns the offset of those bytes.
    size_t Expect(const char (&tag)[5], size_t length) const;
    uint32_t DwordAt(size_t offset) const noexcept;

    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

}  // namespace Logging
