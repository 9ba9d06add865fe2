#include "logging/static/backend.h"

#include <algorithm>
#include <cstring>

#include "core/common/assert.h"
#include "logging/common/thread_slot.h"
#include "logging/static/line_format.h"
#include "logging/static/number_reader.h"

namespace Logging {

namespace {

constexpr char kBackendSource[] = "logging/static/backend";

}  // namespace

Backend::~Backend() = default;

namespace {

// The back-ends the current thread is writing to, innermost first: a back-end may log while
// it writes (its own errors, an assertion), and that record may come back to it or reach
// another serialised back-end.
struct WriteFrame {
    const Backend* backend;
    WriteFrame* outer;
};

ThreadSlot& CurrentWrites() {
    // Never destroyed: static destructors may still log.
    static ThreadSlot* const slot = new ThreadSlot;
    return *slot;
}

}  // namespace

void Backend::WriteRecord(TraceRecord& record) noexcept {
    ThreadSlot& writes = CurrentWrites();
    WriteFrame* const outer = reinterpret_cast<WriteFrame*>(writes.Get());
    for (const WriteFrame* frame = outer; frame != nullptr; frame = frame->outer) {
        if (frame->backend == this) {
            // A record raised by this back-end's own write: writing it would wait for the lock
            // this thread holds, or recurse without end.
            return;
        }
    }
    WriteFrame frame{this, outer};
    writes.Set(reinterpret_cast<uintptr_t>(&frame));
    try {
        if (!SerialisesWrites()) {
            writeCount_.fetch_add(1, std::memory_order_relaxed);
            Write(record);
        } else if (outer == nullptr) {
            ExclusiveGuard guard(writeLock_);
            writeCount_.fetch_add(1, std::memory_order_relaxed);
            Write(record);
        } else if (writeLock_.TryLockExclusive()) {
            // Inside another back-end's write this thread never waits for a second lock: two
            // threads doing so in opposite order would wait for each other for ever.
            writeCount_.fetch_add(1, std::memory_order_relaxed);
            try {
                Write(record);
            } catch (...) {
                writeLock_.UnlockExclusive();
                throw;
            }
            writeLock_.UnlockExclusive();
        }
    } catch (...) {
    }
    writes.Set(reinterpret_cast<uintptr_t>(outer));
}

bool Backend::IsFiltered(const TraceRecord& record) const {
    const ChannelConfig& config = GetConfig();
    return !config.Enabled || static_cast<int64_t>(record.Level()) < static_cast<int64_t>(config.Level);
}

int64_t Backend::LowestWrittenLevel() const {
    const ChannelConfig& config = GetConfig();
    return config.Enabled ? static_cast<int64_t>(config.Level) : INT64_MAX;
}

int32_t Backend::ReadLog(uint32_t, std::string&, uint32_t) {
    return kLoggingRcNotSupported;
}

int32_t Backend::MakeTargetName(const char*, const char*, std::string&) {
    return LOGGING_RC_UNSUPPORTED_BACKEND_TYPE;
}

int32_t Backend::Open(const char*) {
    return LOGGING_RC_NOERROR;
}

std::vector<std::string> Backend::GetPropertyNames(bool all) const {
    std::vector<std::string> names;
    names.reserve(properties_.size() + (all ? extraProperties_.size() : 0));
    for (const PropertyEntry& entry : properties_) {
        names.emplace_back(entry.name);
    }
    if (all) {
        for (const auto& extra : extraProperties_) {
            names.push_back(extra.first);
        }
    }
    return names;
}

const PropertyEntry* Backend::FindProperty(const char* name) const {
    for (const PropertyEntry& entry : properties_) {
        if (std::strcmp(entry.name, name) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

int32_t Backend::GetProperty(const char* name, std::string& value) {
    if (name == nullptr) {
        return LOGGING_RC_INVALID_PARAM;
    }
    const PropertyEntry* entry = FindProperty(name);
    if (entry == nullptr) {
        const auto extra = extraProperties_.find(name);
        if (extra == extraProperties_.end()) {
            return LOGGING_RC_NO_SUCH_PROPERTY;
        }
        value = extra->second;
        return LOGGING_RC_NOERROR;
    }
    if (entry->storage == nullptr && entry->accessor != nullptr) {
        return entry->accessor(*this, name, value, true);
    }
    switch (entry->type) {
        case PROPERTY_STRING:
            value = entry->storage != nullptr ? *static_cast<const std::string*>(entry->storage) : std::string();
            return LOGGING_RC_NOERROR;
        case PROPERTY_DWORD:
            value = std::to_string(entry->storage != nullptr ? *static_cast<const uint32_t*>(entry->storage)
                                                             : entry->constant);
            return LOGGING_RC_NOERROR;
        case PROPERTY_BOOL: {
            const bool set =
                entry->storage != nullptr ? *static_cast<const bool*>(entry->storage) : entry->constant != 0;
            value = set ? "1" : "0";
            return LOGGING_RC_NOERROR;
        }
        default:
            Common::ReportAssertion("!\"invalid property type\"", kBackendSource, __LINE__);
            return LOGGING_RC_INTERNAL;
    }
}

int32_t Backend::GetDWordProperty(const char* name, uint32_t& value) {
    std::string text;
    const int32_t rc = GetProperty(name, text);
    if (rc != LOGGING_RC_NOERROR) {
        return rc;
    }
    const std::optional<uint32_t> number = ReadNumber(text);
    if (!number) {
        return LOGGING_RC_PROPERTY_TYPE_MISMATCH;
    }
    value = *number;
    return LOGGING_RC_NOERROR;
}

int32_t Backend::SetProperty(const char* name, const char* value) {
    if (name == nullptr || *name == '\0') {
        return LOGGING_RC_INVALID_PARAM;
    }
    const PropertyEntry* entry = FindProperty(name);
    if (entry == nullptr) {
        if (value == nullptr || *value == '\0') {
            return extraProperties_.erase(name) != 0 ? LOGGING_RC_NOERROR : LOGGING_RC_NO_SUCH_PROPERTY;
        }
        if (!ReadNumber(value)) {
            return LOGGING_RC_PROPERTY_TYPE_MISMATCH;
        }
        extraProperties_[name] = value;
        return LOGGING_RC_NOERROR;
    }
    if (entry->readOnly != 0) {
        return LOGGING_RC_READ_ONLY;
    }
    std::string text = value != nullptr ? value : "";
    if (entry->type == PROPERTY_DWORD || entry->type == PROPERTY_BOOL) {
        const std::optional<uint32_t> number = ReadNumber(text);
        if (!number) {
            return LOGGING_RC_PROPERTY_TYPE_MISMATCH;
        }
        if (entry->storage != nullptr) {
            if (entry->type == PROPERTY_DWORD) {
                *static_cast<uint32_t*>(entry->storage) = *number;
            } else {
                *static_cast<bool*>(entry->storage) = *number != 0;
            }
            return LOGGING_RC_NOERROR;
        }
    } else if (entry->type != PROPERTY_STRING) {
        Common::ReportAssertion("!\"invalid property type\"", kBackendSource, __LINE__);
        return LOGGING_RC_INTERNAL;
    } else if (entry->storage != nullptr) {
        *static_cast<std::string*>(entry->storage) = std::move(text);
        return LOGGING_RC_NOERROR;
    }
    if (entry->accessor != nullptr) {
        return entry->accessor(*this, name, text, false);
    }
    return LOGGING_RC_READ_ONLY;
}

int32_t Backend::AddLink(const std::string& name) {
    if (std::find(links_.begin(), links_.end(), name) != links_.end()) {
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    links_.push_back(name);
    return LOGGING_RC_NOERROR;
}

int32_t Backend::RemoveLink(const std::string& name) {
    const auto it = std::find(links_.begin(), links_.end(), name);
    if (it == links_.end()) {
        return LOGGING_RC_CHANNEL_DOES_NOT_EXIST;
    }
    links_.erase(it);
    return LOGGING_RC_NOERROR;
}

bool PreExpandPrefix(std::string& prefix) {
    if (prefix.empty()) {
        return true;
    }
    const TraceEnvironment& environment = SystemTraceEnvironment();
    PlaceholderValues values;
    values.pid = environment.ProcessId();
    values.pname = environment.ProcessName();
    std::string expanded;
    const uint32_t left = ExpandPrefix(prefix, kPlaceholderPid | kPlaceholderPname, values, expanded);
    prefix = std::move(expanded);
    return left == 0;
}

}  // namespace Logging
