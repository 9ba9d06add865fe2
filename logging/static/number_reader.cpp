#include "logging/static/number_reader.h"

namespace Logging {

namespace {

int DigitValue(char c, uint32_t base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value >= 0 && static_cast<uint32_t>(value) < base ? value : -1;
}

std::optional<uint32_t> ReadDigits(std::string_view digits, uint32_t base) {
    if (digits.empty()) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (char c : digits) {
        int digit = DigitValue(c, base);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * base + static_cast<uint32_t>(digit);
        if (value > UINT32_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<uint32_t> ReadNumber(std::string_view text) noexcept {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        return ReadDigits(text.substr(2), 16);
    }
    if (!text.empty() && (text.back() == 'h' || text.back() == 'H')) {
        return ReadDigits(text.substr(0, text.size() - 1), 16);
    }
    return ReadDigits(text, 10);
}

std::optional<uint32_t> ReadNumber(const char* text) noexcept {
    if (text == nullptr) {
        return std::nullopt;
    }
    return ReadNumber(std::string_view(text));
}

}  // namespace Logging
