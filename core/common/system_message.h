#pragma once

// Texts of Windows error codes, HRESULTs and NTSTATUS codes from the system's message tables.

#include <cstdint>
#include <string>

namespace Common {

// The message of a code in HRESULT form; a code with bit 0x10000000 is an NTSTATUS (with that
// bit) and is looked up in the NT message table. Empty when the system has no message.
std::wstring SystemMessageText(uint32_t code);

// Cleans a message as the system formats it: every carriage return goes, then one final line
// feed, then the final period of a one-line message.
inline void TrimSystemMessage(std::wstring& text) {
    std::wstring::size_type kept = 0;
    for (wchar_t c : text) {
        if (c != L'\r') {
            text[kept++] = c;
        }
    }
    text.resize(kept);
    if (!text.empty() && text.back() == L'\n') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == L'.' && text.find(L'\n') == std::wstring::npos) {
        text.pop_back();
    }
}

}  // namespace Common
