#pragma once

// The logging manager's entry points for the library's own parts (configuration reader,
// control commands, back-ends, the network receiver) and for its tests; hosts use
// logging/logging_manager.h only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "logging/logging_manager.h"

namespace Logging {

class Backend;
class ChannelConfig;
class TraceRecord;

// The configuration hook runs once, under the exclusive lock, at the first delivery to a
// channel other than "logging-trace" after initialisation, with the pending reading mode; the
// command hook runs the commands of an environment variable ("LOGGING_INIT_CMD" and the like).
using ConfigurationHook = void (*)(LoggingManager& manager, uint32_t mode);
using CommandHook = void (*)(LoggingManager& manager, const char* variable);
void SetConfigurationHook(ConfigurationHook hook);
void SetCommandHook(CommandHook hook);
// The configuration reading mode copied at initialisation (2 until changed; 0 reads nothing).
void SetConfigurationMode(uint32_t mode);

// A back-end type beyond those built in (null, debugger, console, custom). Returns the
// factory it replaces, so that a test can put it back.
using BackendFactory = std::shared_ptr<Backend> (*)();
BackendFactory RegisterBackendFactory(uint32_t type, BackendFactory factory);

// True when the library can make back-ends of `type`: the built-in types, and those whose
// factory is registered.
bool BackendTypeAvailable(uint32_t type);

// Runs at every Release, after the worker thread has stopped (for parts that keep threads of
// their own, such as the background compressor). Register from static initialisation.
void RegisterReleaseHook(void (*hook)());

// Delivers a record built by the caller (scope events, lines received from the network).
void DeliverRecord(TraceRecord& record);

// Delivers a fatal record and flushes every channel: on the worker thread when one runs, whose
// stack and state are sound when the caller's may not be; on the caller's thread otherwise (and
// when another fatal record is on its way). Call it without holding the manager's lock.
void DeliverFatalRecord(TraceRecord& record);

// A back-end's own message, raised while it holds its locks: a record of "logging-trace" sent
// through the trace redirector to this process's listener, whose thread delivers it; never
// delivered on the caller's thread. Dropped while no redirector runs.
void TraceFromBackend(int32_t level, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

// The trace redirector: a gate back-end ("trace-redirector") bound to a port of [minPort,
// maxPort) that sends to the listener at `targetPort`. Start gives it a usage of 1 (2 when it
// cannot be started, traced as "Unable to start trace redirector"); Acquire raises the usage
// of a running one (null: none runs) and Release lowers it, destroying it at 0.
int32_t StartTraceRedirector(uint16_t minPort, uint16_t maxPort, uint16_t targetPort);
Backend* AcquireTraceRedirector();
void ReleaseTraceRedirector();

// The library's own fatal messages: to the panic handle or the debugger, then to
// "logging-trace" at CRITICAL_ERROR.
void PanicTrace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// A back-end's or file writer's own error: a panic record (as PanicTrace) and the same text at
// CRITICAL_ERROR on "logging-trace"; nothing once the manager has begun to shut down.
void ReportBackendError(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// A thread that others wait for while they hold the manager's lock or a back-end's lock (the
// log-scope writer thread) must never wait for those locks itself: while a sink is set on it,
// ReportBackendError hands the finished text to the sink instead of delivering it.
using BackendReportSink = void (*)(const char* text);
void SetThreadReportSink(BackendReportSink sink);
// Delivers `text` as ReportBackendError does, unless that would mean waiting for the
// manager's lock: false then, and nothing is done.
bool TryReportBackendError(const char* text);

// Every back-end trace is also handed to `observer` (null: none), for tests.
using BackendTraceObserver = void (*)(int32_t level, const char* text);
void SetBackendTraceObserver(BackendTraceObserver observer);

// Records whose channel name holds no "#" also go to this channel (null or empty: none).
void SetMirrorChannel(const char* name);

// Flushes every channel's back-end.
void FlushAllChannels();

// The name of the default channel now.
std::string DefaultChannelName();

// A copy of a channel's configuration (null or empty name: the default channel); a result code.
int32_t GetChannelConfig(const char* name, std::unique_ptr<ChannelConfig>& config);
// The channels' names in name order.
std::vector<std::string> ChannelNames();
// One name of the usage map: the records delivered to it, whether a channel has that name now
// and how many records that channel's back-end wrote.
struct UsageStatistic {
    std::string name;
    uint64_t count;
    bool exists;
    uint32_t written;
};
std::vector<UsageStatistic> UsageStatistics();

// What the manager was initialised with.
// The local UDP ports [minPort, maxPort) of gate back-ends and of the network listener.
void UdpPortRange(uint16_t& minPort, uint16_t& maxPort);
// Whether the network listener re-emits every channel's records, not only "logging-trace".
bool ListenerAcceptsAllChannels();
const std::string& HomeDirectory();
const std::string& ConfigDirectory();
const std::string& ConfigName();
const std::string& FatalErrorLogPath();
const std::string& ControlPipeName();

}  // namespace Logging
