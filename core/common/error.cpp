#include "core/common/error.h"

#include <atomic>
#include <new>

namespace Common {

struct ErrorRecord {
    std::atomic<uint32_t> refs{1};
    uint32_t code = 0;
    ErrorLocation location{};
    std::wstring text;
};

namespace {
ErrorRecord* AddRef(ErrorRecord* r) noexcept {
    if (r != nullptr) {
        r->refs.fetch_add(1, std::memory_order_relaxed);
    }
    return r;
}
void Release(ErrorRecord* r) noexcept {
    if (r != nullptr && r->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        delete r;
    }
}
}  // namespace

Error::Error(const Error& other) noexcept : head_(AddRef(other.head_)) {}
Error::Error(Error&& other) noexcept : head_(other.head_) {
    other.head_ = nullptr;
}
Error& Error::operator=(const Error& other) noexcept {
    ErrorRecord* old = head_;
    head_ = AddRef(other.head_);
    Release(old);
    return *this;
}
Error& Error::operator=(Error&& other) noexcept {
    if (this != &other) {
        Release(head_);
        head_ = other.head_;
        other.head_ = nullptr;
    }
    return *this;
}
Error::~Error() {
    Release(head_);
}

Error Error::FromCode(const ErrorLocation& location, uint32_t code) {
    return FromText(location, code, static_cast<const wchar_t*>(nullptr));
}

Error Error::FromText(const ErrorLocation& location, uint32_t code, const char* text) {
    std::wstring wide;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    return FromText(location, code, wide.c_str());
}

Error Error::FromText(const ErrorLocation& location, uint32_t code, const wchar_t* text) {
    if (code == 0) {
        return Error();
    }
    auto* record = new ErrorRecord;
    record->code = code;
    record->location = location;
    if (text != nullptr) {
        record->text = text;
    }
    return Error(record);
}

uint32_t Error::Code() const noexcept {
    return head_ == nullptr ? 0 : head_->code;
}

std::wstring Error::Text() const {
    return head_ == nullptr ? std::wstring() : head_->text;
}

std::wstring Error::FullText(int32_t, const char*) const {
    return Text();
}

}  // namespace Common
