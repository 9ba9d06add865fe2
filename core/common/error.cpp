#include "core/common/error.h"

#include <cstring>
#include <cwchar>
#include <new>

#include "core/common/error_record.h"
#include "core/common/message_catalogue.h"
#include "core/common/system_message.h"

namespace Common {

namespace {

constexpr char kSourceFile[] = "core/common/error";

// Records never throw on allocation: a short heap gives the out-of-memory record instead.
void* AllocateRecord(size_t size) noexcept {
    return ::operator new(size, std::nothrow);
}

void FreeRecord(ErrorRecord* record) noexcept {
    record->~ErrorRecord();
    ::operator delete(static_cast<void*>(record));
}

ErrorRecord* AddRef(ErrorRecord* record) noexcept {
    if (record != nullptr) {
        record->refs.fetch_add(1, std::memory_order_relaxed);
    }
    return record;
}

// Releases a chain without recursion: each record that goes takes its reference to the cause
// with it, and the walk stops at the first record that is still referenced elsewhere.
void ReleaseChain(ErrorRecord* record) noexcept {
    while (record != nullptr && record->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        ErrorRecord* cause = record->cause;
        record->kind->destroy(record);
        record = cause;
    }
}

bool NameIs(const char* name, const char* expected) noexcept {
    return name != nullptr && std::strcmp(name, expected) == 0;
}

// --- operations shared by the kinds

void DestroyRecord(ErrorRecord* record) {
    if (record != &OutOfMemoryRecord()) {
        FreeRecord(record);
    }
}

uint32_t NoNumericParameter(const ErrorRecord*, const char*) {
    return 0;
}

const char* ModuleParameter(const ErrorRecord*, const char* name) {
    return NameIs(name, "$module") ? kErrorModuleName : nullptr;
}

const wchar_t* NoWideParameter(const ErrorRecord*, const char*) {
    return nullptr;
}

const char* ModuleParameterNames(const ErrorRecord*) {
    return "$module";
}

// --- system error

ErrorRecord* CloneSystemError(const ErrorRecord* record) {
    void* block = AllocateRecord(sizeof(ErrorRecord));
    if (block == nullptr) {
        return nullptr;
    }
    return new (block) ErrorRecord(record->code, record->kind, record->location, record->extra);
}

std::wstring SystemErrorText(const ErrorRecord* record) {
    return SystemMessageText(record->extra);
}

uint32_t SystemErrorNumericParameter(const ErrorRecord* record, const char* name) {
    return NameIs(name, "code") ? record->extra : 0;
}

const char* SystemErrorParameterNames(const ErrorRecord*) {
    return "code,$module";
}

// --- code only

ErrorRecord* CloneCodeOnly(const ErrorRecord* record) {
    void* block = AllocateRecord(sizeof(ErrorRecord));
    if (block == nullptr) {
        return nullptr;
    }
    return new (block) ErrorRecord(record->code, record->kind, record->location, sizeof(ErrorRecord));
}

std::wstring EmptyText(const ErrorRecord*) {
    return std::wstring();
}

// --- narrow and wide text

ErrorRecord* CloneText(const ErrorRecord* record) {
    const auto& source = static_cast<const TextErrorRecord&>(*record);
    void* block = AllocateRecord(source.extra);
    if (block == nullptr) {
        return nullptr;
    }
    auto* copy = new (block) TextErrorRecord(source.code, source.kind, source.location, source.extra, source.textRef);
    // The private copy is addressed by its offset, so it stays valid when moved as bytes.
    std::memcpy(static_cast<char*>(block) + sizeof(TextErrorRecord),
                reinterpret_cast<const char*>(&source) + sizeof(TextErrorRecord),
                source.extra - sizeof(TextErrorRecord));
    return copy;
}

std::wstring NarrowText(const ErrorRecord* record) {
    const auto* text = static_cast<const unsigned char*>(RecordTextData(static_cast<const TextErrorRecord&>(*record)));
    std::wstring wide;
    for (; *text != 0; ++text) {
        wide.push_back(static_cast<wchar_t>(*text));
    }
    return wide;
}

std::wstring WideText(const ErrorRecord* record) {
    return static_cast<const wchar_t*>(RecordTextData(static_cast<const TextErrorRecord&>(*record)));
}

template <typename Char>
ErrorRecord* MakeTextRecord(const ErrorLocation& location, uint32_t code, const Char* text,
                            const ErrorRecordKind* kind) noexcept {
    static const Char kEmpty[1] = {0};
    if (text == nullptr) {
        text = kEmpty;
    }
    if (IsInMessageTable(text)) {
        void* block = AllocateRecord(sizeof(TextErrorRecord));
        if (block == nullptr) {
            return AddRef(&OutOfMemoryRecord());
        }
        return new (block)
            TextErrorRecord(code, kind, location, sizeof(TextErrorRecord), reinterpret_cast<uintptr_t>(text));
    }
    size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    const size_t textBytes = (length + 1) * sizeof(Char);
    if (textBytes > UINT32_MAX - sizeof(TextErrorRecord)) {
        return AddRef(&OutOfMemoryRecord());
    }
    const auto size = static_cast<uint32_t>(sizeof(TextErrorRecord) + textBytes);
    void* block = AllocateRecord(size);
    if (block == nullptr) {
        return AddRef(&OutOfMemoryRecord());
    }
    auto* record = new (block) TextErrorRecord(code, kind, location, size, sizeof(TextErrorRecord));
    std::memcpy(static_cast<char*>(block) + sizeof(TextErrorRecord), text, textBytes);
    return record;
}

ErrorRecord* MakeSystemRecord(const ErrorLocation& location, uint32_t hresult) noexcept {
    void* block = AllocateRecord(sizeof(ErrorRecord));
    if (block == nullptr) {
        return AddRef(&OutOfMemoryRecord());
    }
    return new (block) ErrorRecord(kSystemErrorCode, &kSystemErrorKind, location, hresult);
}

// --- full text

void AppendHex(std::wstring& out, uint64_t value) {
    wchar_t digits[16];
    int count = 0;
    do {
        digits[count++] = L"0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0);
    out += L"0x";
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

void AppendNarrow(std::wstring& out, const char* text) {
    for (; *text != '\0'; ++text) {
        out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    }
}

// Multi-line values stay inside the block: each line feed continues with the "| " margin.
void AppendIndented(std::wstring& out, const std::wstring& text) {
    for (wchar_t c : text) {
        if (c == L'\n') {
            out += L"\n| ";
        } else {
            out.push_back(c);
        }
    }
}

void AppendField(std::wstring& out, MessageId label) {
    out += L"\n| ";
    out += GetMessageText(label);
    out += L": ";
}

// UTF-8 to UTF-16; a malformed sequence becomes U+FFFD and decoding goes on after its first byte.
std::wstring FromUtf8(const char* text) {
    std::wstring out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        const unsigned lead = *p;
        unsigned length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
        uint32_t point = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length != 0;
        for (unsigned i = 1; valid && i < length; ++i) {
            valid = (p[i] & 0xC0) == 0x80;
            point = (point << 6) | (p[i] & 0x3F);
        }
        static constexpr uint32_t kMinimum[5] = {0, 0, 0x80, 0x800, 0x10000};
        valid = valid && point >= kMinimum[length] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
        if (!valid) {
            out.push_back(static_cast<wchar_t>(0xFFFD));
            ++p;
            continue;
        }
        if (point >= 0x10000) {
            point -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (point >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (point & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(point));
        }
        p += length;
    }
    return out;
}

MessageId LevelName(int32_t level, bool* known) {
    *known = true;
    switch (level) {
        case 1: return MSG_LEVEL_DEBUG;
        case 2: return MSG_LEVEL_INFORMATION;
        case 3: return MSG_LEVEL_WARNING;
        case 4: return MSG_LEVEL_ERROR;
        case 5: return MSG_LEVEL_CRITICAL_ERROR;
        default: *known = false; return MSG_LEVEL_ERROR;
    }
}

// One record's block. The head block starts the text and may carry the trace level and the
// channel; a cause block starts on a new "| " line and is labelled "error".
void AppendBlock(std::wstring& out, const ErrorRecord* record, bool head, int32_t level, const char* channel) {
    if (head) {
        out += GetMessageText(MSG_LABEL_ERROR_HEAD);
    } else {
        out += L"\n| ";
        out += GetMessageText(MSG_LABEL_ERROR_CAUSE);
    }
    out += L' ';
    AppendHex(out, record != nullptr ? record->code : 0);
    if (record != nullptr) {
        const std::wstring text = record->kind->text(record);
        if (!text.empty()) {
            out += L": ";
            AppendIndented(out, text);
        }
    }
    if (head && level < 255) {
        AppendField(out, MSG_LABEL_TRACE_LEVEL);
        bool known = false;
        const MessageId name = LevelName(level, &known);
        out += known ? std::wstring(GetMessageText(name)) : std::to_wstring(level);
    }
    if (head && channel != nullptr && *channel != '\0') {
        AppendField(out, MSG_LABEL_CHANNEL);
        AppendNarrow(out, channel);
    }
    AppendField(out, MSG_LABEL_LINE);
    AppendHex(out, record != nullptr ? record->location.tag : 0);
    if (record == nullptr) {
        return;
    }
    const ErrorLocation& location = record->location;
    if (location.file != nullptr && *location.file != '\0') {
        AppendField(out, MSG_LABEL_FILE);
        AppendNarrow(out, location.file);
        out += L':';
        out += std::to_wstring(location.line);
    }
    if (location.function != nullptr && *location.function != '\0') {
        AppendField(out, MSG_LABEL_FUNCTION);
        AppendNarrow(out, location.function);
    }
    const std::string names = record->kind->parameterNames(record);
    std::string::size_type start = 0;
    while (!names.empty() && start <= names.size()) {
        std::string::size_type end = names.find(',', start);
        if (end == std::string::npos) {
            end = names.size();
        }
        const std::string name = names.substr(start, end - start);
        out += L"\n| ";
        AppendNarrow(out, name.c_str());
        out += L": ";
        if (const char* value = record->kind->stringParameter(record, name.c_str())) {
            AppendIndented(out, FromUtf8(value));
        } else {
            AppendHex(out, record->kind->numericParameter(record, name.c_str()));
        }
        start = end + 1;
    }
}

ErrorRecord g_outOfMemory(kOutOfMemoryCode, &kCodeOnlyKind, ErrorLocation{0, nullptr, nullptr, 0}, sizeof(ErrorRecord));

}  // namespace

const ErrorRecordKind kSystemErrorKind = {
    DestroyRecord,   CloneSystemError, SystemErrorText,          SystemErrorNumericParameter,
    ModuleParameter, NoWideParameter,  SystemErrorParameterNames};
const ErrorRecordKind kCodeOnlyKind = {DestroyRecord,   CloneCodeOnly,   EmptyText,           NoNumericParameter,
                                       ModuleParameter, NoWideParameter, ModuleParameterNames};
const ErrorRecordKind kNarrowTextKind = {DestroyRecord,   CloneText,       NarrowText,          NoNumericParameter,
                                         ModuleParameter, NoWideParameter, ModuleParameterNames};
const ErrorRecordKind kWideTextKind = {
    DestroyRecord, CloneText, WideText, NoNumericParameter, ModuleParameter, NoWideParameter, ModuleParameterNames};

ErrorRecord& OutOfMemoryRecord() noexcept {
    return g_outOfMemory;
}

const void* RecordTextData(const TextErrorRecord& record) noexcept {
    if (record.extra > sizeof(TextErrorRecord)) {
        return reinterpret_cast<const char*>(&record) + record.textRef;
    }
    return reinterpret_cast<const void*>(record.textRef);
}

Error::Error(const Error& other) noexcept : head_(AddRef(other.head_)) {}

Error::Error(Error&& other) noexcept : head_(other.head_) {
    other.head_ = nullptr;
}

Error& Error::operator=(const Error& other) noexcept {
    ErrorRecord* old = head_;
    head_ = AddRef(other.head_);
    ReleaseChain(old);
    return *this;
}

Error& Error::operator=(Error&& other) noexcept {
    if (this != &other) {
        ReleaseChain(head_);
        head_ = other.head_;
        other.head_ = nullptr;
    }
    return *this;
}

Error::~Error() {
    ReleaseChain(head_);
}

Error Error::FromCode(const ErrorLocation& location, uint32_t code) noexcept {
    if (code == 0) {
        return Error();
    }
    void* block = AllocateRecord(sizeof(ErrorRecord));
    if (block == nullptr) {
        return Error(AddRef(&OutOfMemoryRecord()));
    }
    return Error(new (block) ErrorRecord(code, &kCodeOnlyKind, location, sizeof(ErrorRecord)));
}

Error Error::FromText(const ErrorLocation& location, uint32_t code, const char* text) noexcept {
    return code == 0 ? Error() : Error(MakeTextRecord(location, code, text, &kNarrowTextKind));
}

Error Error::FromText(const ErrorLocation& location, uint32_t code, const wchar_t* text) noexcept {
    return code == 0 ? Error() : Error(MakeTextRecord(location, code, text, &kWideTextKind));
}

Error& Error::Attach(ErrorRecord* record) noexcept {
    if (head_ == nullptr) {
        head_ = record;
    } else if (head_->refs.load(std::memory_order_acquire) == 1) {
        ReleaseChain(head_->cause);
        head_->cause = record;
    } else {
        ErrorRecord* clone = head_->kind->clone(head_);
        if (clone == nullptr) {
            ReleaseChain(record);
            return *this;
        }
        clone->cause = record;
        ReleaseChain(head_);
        head_ = clone;
    }
    return *this;
}

Error& Error::AddWindowsError(int32_t code) noexcept {
    static constexpr ErrorLocation kSite = COMMON_ERROR_SITE(kSourceFile, "Common::Error::AddWindowsError", 314);
    const uint32_t hresult =
        code < 1 ? static_cast<uint32_t>(code) : (static_cast<uint32_t>(code) & 0xFFFF) | 0x80070000u;
    return Attach(MakeSystemRecord(kSite, hresult));
}

Error& Error::AddHResult(int32_t hresult) noexcept {
    static constexpr ErrorLocation kSite = COMMON_ERROR_SITE(kSourceFile, "Common::Error::AddHResult", 324);
    return Attach(MakeSystemRecord(kSite, static_cast<uint32_t>(hresult)));
}

Error& Error::AddNTStatus(int32_t status) noexcept {
    static constexpr ErrorLocation kSite = COMMON_ERROR_SITE(kSourceFile, "Common::Error::AddNTStatus", 334);
    return Attach(MakeSystemRecord(kSite, static_cast<uint32_t>(status) | 0x10000000u));
}

Error& Error::AddCause(const Error& cause) noexcept {
    return cause.head_ == nullptr ? *this : Attach(AddRef(cause.head_));
}

Error Error::Cause() const noexcept {
    return Error(head_ != nullptr ? AddRef(head_->cause) : nullptr);
}

uint32_t Error::Code() const noexcept {
    return head_ == nullptr ? 0 : head_->code;
}

ErrorLocation Error::Location() const noexcept {
    return head_ == nullptr ? ErrorLocation{0, nullptr, nullptr, 0} : head_->location;
}

std::wstring Error::Text() const {
    return head_ == nullptr ? std::wstring() : head_->kind->text(head_);
}

const char* Error::ParameterNames() const noexcept {
    return head_ == nullptr ? "" : head_->kind->parameterNames(head_);
}

uint32_t Error::NumericParameter(const char* name) const noexcept {
    return head_ == nullptr ? 0 : head_->kind->numericParameter(head_, name);
}

const char* Error::StringParameter(const char* name) const noexcept {
    return head_ == nullptr ? nullptr : head_->kind->stringParameter(head_, name);
}

const wchar_t* Error::WideStringParameter(const char* name) const noexcept {
    return head_ == nullptr ? nullptr : head_->kind->wideStringParameter(head_, name);
}

std::wstring Error::FullText(int32_t level, const char* channel) const {
    std::wstring out;
    AppendBlock(out, head_, true, level, channel);
    for (const ErrorRecord* cause = head_ != nullptr ? head_->cause : nullptr; cause != nullptr && cause->code != 0;
         cause = cause->cause) {
        out += L"\n|";
        AppendBlock(out, cause, false, 255, nullptr);
    }
    return out;
}

}  // namespace Common
