#include <atomic>
#include <cstdlib>

#include "logging/initialize.h"

namespace Logging {

namespace {
std::atomic<ErrorFormatterFn> g_errorFormatter{nullptr};
std::atomic<FieldFormatterFn> g_fieldFormatter{nullptr};
}  // namespace

void* Allocate(size_t size) {
    return std::malloc(size == 0 ? 1 : size);
}

void Free(void* block) {
    std::free(block);
}

void SetErrorFormatter(ErrorFormatterFn hook) {
    g_errorFormatter.store(hook, std::memory_order_release);
}

ErrorFormatterFn GetErrorFormatter() {
    return g_errorFormatter.load(std::memory_order_acquire);
}

void SetFieldFormatter(FieldFormatterFn hook) {
    g_fieldFormatter.store(hook, std::memory_order_release);
}

FieldFormatterFn GetFieldFormatter() {
    return g_fieldFormatter.load(std::memory_order_acquire);
}

}  // namespace Logging
