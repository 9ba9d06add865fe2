#pragma once

// How a host connects to the logging library: its formatting hooks, the bind to the
// process-wide manager, and the initialisation object that lives for the whole run.

#include <cstddef>
#include <cstdint>

#include "core/common/trace_logic.h"

namespace Common {
class Error;
}

namespace Logging {

// Allocator and free function of the library: every heap block that crosses its boundary
// (hook texts, the default channel name) is allocated and freed with these.
void* Allocate(size_t size);
void Free(void* block);

// Renders an error carried by a trace record. Any out-pointer may be null; `text` receives a
// block from `Allocate`. `shortForm` is true unless the channel dumps errors in full.
using ErrorFormatterFn = void (*)(const char* channel, int16_t level, const Common::Error* error, char** text,
                                  bool shortForm, uint16_t* codeHigh, uint16_t* codeLow);

// One named value of a data record.
struct TraceField {
    enum Type : int32_t {
        Int32 = 0,
        UInt32 = 1,
        Double = 2,
        Float = 3,  // carried as a double as well
        WideString = 4,
        Int64 = 5,
        UInt64 = 6,
        NarrowString = 7,
        Bool = 8,
    };
    const char* name;
    int32_t type;
    union {
        int32_t i32;
        uint32_t u32;
        double d;
        const wchar_t* wide;
        int64_t i64;
        uint64_t u64;
        const char* narrow;
        bool b;
        uint64_t raw;
    } value;
    uint64_t reserved;
};

// Renders a message text and its fields into one text (a block from `Allocate`).
using FieldFormatterFn = void (*)(const wchar_t* text, const TraceField* fields, int32_t count, char** out);

// The process-wide hooks (null: none). The record renderer reads them at every use.
void SetErrorFormatter(ErrorFormatterFn hook);
ErrorFormatterFn GetErrorFormatter();
void SetFieldFormatter(FieldFormatterFn hook);
FieldFormatterFn GetFieldFormatter();

// Values of InitParameters::listener. The listener re-emits the records that other processes
// (and this one's back-ends, through the trace redirector) send to its port: with
// kListenerSelfTrace only those of "logging-trace", with kListenerAllChannels those of every
// channel, which a host that collects other processes' records needs.
constexpr uint8_t kListenerOff = 0;
constexpr uint8_t kListenerSelfTrace = 1;
constexpr uint8_t kListenerAllChannels = 2;

// Initialisation parameters; null strings count as empty, ports are used only when both are
// nonzero. The port range [minPort, maxPort) is where the listener and the gate back-ends bind
// (24100-24300 unless given).
struct InitParameters {
    const char* homeDirectory;
    const char* configDirectory;
    const char* configName;
    uint8_t controlPipe;
    uint8_t listener;  // kListenerOff, kListenerSelfTrace or kListenerAllChannels
    uint32_t minPort;
    uint32_t maxPort;
};

class ErrorFormatter {
public:
    explicit ErrorFormatter(ErrorFormatterFn hook) { SetErrorFormatter(hook); }
};

class FieldFormatter {
public:
    explicit FieldFormatter(FieldFormatterFn hook) { SetFieldFormatter(hook); }
};

// Forwards the common runtime's traces to the logging manager. The first Bind of the process
// registers itself with the common trace logic and unregisters when it is destroyed.
class Bind : public Common::TraceLogic {
public:
    Bind();
    ~Bind() override;
    Bind(const Bind&) = delete;
    Bind& operator=(const Bind&) = delete;

    using Common::TraceLogic::Trace;
    using Common::TraceLogic::TraceData;
    using Common::TraceLogic::TraceError;
    void Trace(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text) override;
    void TraceData(const char* channel, int32_t level, uint16_t codeHigh, uint16_t codeLow, const wchar_t* text,
                   const void* data, uint32_t size) override;
    void TraceError(const char* channel, int32_t level, const Common::Error& error) override;
    bool ReceivesAllLevels() const override { return true; }

private:
    bool registered_ = false;
};

// Lives on the host's stack for the whole run: installs the hooks, binds, initialises the
// manager and releases it again.
class Initialize : public ErrorFormatter, public FieldFormatter, public Bind {
public:
    Initialize(ErrorFormatterFn errorFormatter, FieldFormatterFn fieldFormatter, const InitParameters& parameters);
    ~Initialize() override;

    uint32_t Cookie() const { return cookie_; }

private:
    uint32_t cookie_ = 0;
};

}  // namespace Logging
