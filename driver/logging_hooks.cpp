#include "driver/logging_hooks.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/common/error.h"
#include "core/common/utf.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"

namespace Hostprobe {

namespace {

// A copy of `text` in a block of the logging library's allocator.
char* LibraryCopy(const std::string& text) {
    char* block = static_cast<char*>(Logging::Allocate(text.size() + 1));
    if (block != nullptr) {
        std::memcpy(block, text.c_str(), text.size() + 1);
    }
    return block;
}

void AppendWidened(std::wstring& out, const char* narrow) {
    for (const char* p = narrow; p != nullptr && *p != '\0'; ++p) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
}

void AppendPrintf(std::wstring& out, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
void AppendPrintf(std::wstring& out, const char* format, ...) {
    char buffer[64];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) {
        AppendWidened(out, buffer);
    }
}

void AppendFieldValue(std::wstring& out, const Logging::TraceField& field) {
    switch (field.type) {
        case Logging::TraceField::Int32: AppendPrintf(out, "%d", static_cast<int>(field.value.i32)); break;
        case Logging::TraceField::UInt32: AppendPrintf(out, "%u", static_cast<unsigned>(field.value.u32)); break;
        case Logging::TraceField::Double:
        case Logging::TraceField::Float: AppendPrintf(out, "%.16g", field.value.d); break;
        case Logging::TraceField::WideString:
            if (field.value.wide != nullptr) {
                out += field.value.wide;
            }
            break;
        case Logging::TraceField::Int64: AppendPrintf(out, "%lli", static_cast<long long>(field.value.i64)); break;
        case Logging::TraceField::UInt64:
            AppendPrintf(out, "%llu", static_cast<unsigned long long>(field.value.u64));
            break;
        case Logging::TraceField::NarrowString: AppendWidened(out, field.value.narrow); break;
        case Logging::TraceField::Bool: out += field.value.b ? L"1" : L"0"; break;
        default: break;
    }
}

}  // namespace

void FormatErrorForLogging(const char* channel, int16_t level, const Common::Error* error, char** text, bool shortForm,
                           uint16_t* codeHigh, uint16_t* codeLow) {
    if (error == nullptr) {
        return;
    }
    if (text != nullptr) {
        const std::wstring wide = shortForm ? error->Text() : error->FullText(level, channel);
        *text = LibraryCopy(Common::Utf16ToUtf8(wide));
    }
    const uint32_t code = error->Code();
    if (codeHigh != nullptr) {
        *codeHigh = static_cast<uint16_t>(code >> 16);
    }
    if (codeLow != nullptr) {
        *codeLow = static_cast<uint16_t>(code & 0xFFFF);
    }
}

void FormatFieldsForLogging(const wchar_t* text, const Logging::TraceField* fields, int32_t count, char** out) {
    if (out == nullptr) {
        return;
    }
    std::wstring result = text != nullptr ? text : L"";
    if (fields != nullptr && count != 0) {
        result += L"; ";
        for (int32_t i = 0; i < count; ++i) {
            if (i > 0) {
                result += L", ";
            }
            AppendWidened(result, fields[i].name);
            result += L"=\"";
            AppendFieldValue(result, fields[i]);
            result += L"\"";
        }
    }
    *out = LibraryCopy(Common::Utf16ToUtf8(result));
}

int32_t RouteDefaultChannelTo(Logging::Tracer* tracer) {
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    char* name = manager.GetDefaultChannel();
    const std::string channel = name != nullptr ? name : "";
    Logging::Free(name);

    Logging::CustomConfig config;
    config.Enabled = true;
    config.Level = Logging::INFORMATION;
    config.Flags = Logging::kDefaultOutputFlags;
    config.MsgPrefix.clear();
    config.TracerIf = Logging::TracerIfRef::Adopt(Logging::MakeTracerStub(tracer, false));
    Logging::_log_channel_config* flat = config.ToFlat();
    const int32_t rc = manager.TuneChannel(channel.c_str(), flat);
    std::free(flat);
    return rc;
}

}  // namespace Hostprobe
