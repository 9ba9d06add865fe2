#include "logging/config_serial.h"

#include <cstring>

namespace Logging {

namespace {

constexpr size_t kTagSize = 4;

void AppendTag(std::vector<uint8_t>& out, const char (&tag)[5]) {
    out.insert(out.end(), tag, tag + kTagSize);
}

void AppendDword(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

}  // namespace

void SerialWriteDword(std::vector<uint8_t>& out, uint32_t value) {
    AppendTag(out, "dwrd");
    AppendDword(out, value);
}

void SerialWriteBool(std::vector<uint8_t>& out, bool value) {
    AppendTag(out, "bool");
    out.push_back(value ? 1 : 0);
}

void SerialWriteString(std::vector<uint8_t>& out, std::string_view text) {
    if (text.size() > UINT32_MAX) {
        throw std::length_error("configuration text too long to save");
    }
    AppendTag(out, "str ");
    AppendDword(out, static_cast<uint32_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

size_t SerialReader::Expect(const char (&tag)[5], size_t length) const {
    if (Remaining() < kTagSize) {
        throw SerialFormatError(std::string("configuration data ends where \"") + tag + "\" was expected", position_);
    }
    if (std::memcmp(data_ + position_, tag, kTagSize) != 0) {
        throw SerialFormatError(std::string("configuration data holds a wrong tag where \"") + tag + "\" was expected",
                                position_);
    }
    if (Remaining() - kTagSize < length) {
        throw SerialFormatError(std::string("configuration data ends inside a \"") + tag + "\" value", position_);
    }
    return position_ + kTagSize;
}

uint32_t SerialReader::DwordAt(size_t offset) const noexcept {
    return static_cast<uint32_t>(data_[offset]) | static_cast<uint32_t>(data_[offset + 1]) << 8 |
           static_cast<uint32_t>(data_[offset + 2]) << 16 | static_cast<uint32_t>(data_[offset + 3]) << 24;
}

uint32_t SerialReader::ReadDword() {
    uint32_t value = PeekDword();
    position_ += kTagSize + 4;
    return value;
}

uint32_t SerialReader::PeekDword() const {
    return DwordAt(Expect("dwrd", 4));
}

bool SerialReader::ReadBool() {
    size_t offset = Expect("bool", 1);
    position_ = offset + 1;
    return data_[offset] != 0;
}

std::string SerialReader::ReadString() {
    size_t offset = Expect("str ", 4);
    size_t length = DwordAt(offset);
    offset += 4;
    if (size_ - offset < length) {
        throw SerialFormatError("configuration text runs past the end of the data", position_);
    }
    position_ = offset + length;
    return std::string(reinterpret_cast<const char*>(data_ + offset), length);
}

}  // namespace Logging
