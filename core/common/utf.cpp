#include "core/common/utf.h"

namespace Common {

void Utf16ToUtf8(const wchar_t* units, size_t count, std::string& out) {
    out.clear();
    if (units == nullptr) {
        return;
    }
    for (size_t i = 0; i < count && units[i] != 0; ++i) {
        const unsigned unit = static_cast<unsigned>(units[i]) & 0xFFFF;
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if (unit < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        } else if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count &&
                   (static_cast<unsigned>(units[i + 1]) & 0xFFFF) >= 0xDC00 &&
                   (static_cast<unsigned>(units[i + 1]) & 0xFFFF) <= 0xDFFF) {
            const unsigned low = static_cast<unsigned>(units[++i]) & 0xFFFF;
            const unsigned cp = (((unit & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
            out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
        }
    }
}

std::string Utf16ToUtf8(const std::wstring& text) {
    std::string out;
    Utf16ToUtf8(text.c_str(), kUntilNul, out);
    return out;
}

}  // namespace Common
