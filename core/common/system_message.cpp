#include "core/common/system_message.h"

#include <windows.h>

#include "core/common/handles.h"

namespace Common {

std::wstring SystemMessageText(uint32_t code) {
    constexpr uint32_t kNtFacilityBit = 0x10000000;
    constexpr DWORD kSystemFlags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;
    constexpr DWORD kNtFlags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;
    constexpr DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT);

    DWORD flags = kSystemFlags;
    HMODULE module = nullptr;
    if ((code & kNtFacilityBit) != 0) {
        code &= ~kNtFacilityBit;
        flags = kNtFlags;
        module = ::GetModuleHandleA("NTDLL.DLL");
    }
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(flags, module, code, kLanguage, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    UniqueLocal owner(buffer);
    std::wstring text;
    if (length != 0 && buffer != nullptr) {
        text.assign(buffer, length);
    }
    TrimSystemMessage(text);
    return text;
}

}  // namespace Common
