#pragma once

// The flat channel records of the library's interface: fixed C layouts, one per back-end
// type, each beginning with its size and type. A host fills one and hands it to TuneChannel;
// ChannelConfig::ToFlat makes one from a configuration object.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "logging/tracer.h"

namespace Logging {

// Flat records. Strings are borrowed; a null string counts as empty.
struct _log_channel_config {
    uint32_t size;  // of the whole record of the type
    uint32_t type;
    uint8_t enabled;
    uint32_t level;
    uint32_t flags;
    const char* msgPrefix;
};

struct _log_null_channel_config {
    _log_channel_config header;
};

struct _log_debugger_channel_config {
    _log_channel_config header;
};

struct _log_console_channel_config {
    _log_channel_config header;
};

struct _log_file_channel_config {
    _log_channel_config header;
    uint8_t append;
    uint8_t oneday;
    uint32_t maxSize;
    const char* file;
};

struct _log_custom_channel_config {
    _log_channel_config header;
    TracerIf* tracerIf;
};

struct _log_logscope_config {
    _log_channel_config header;
    const char* folder;
    const char* prefix;
    const char* extension;
    uint32_t maxSize;
    uint32_t maxFiles;
    uint32_t compress;
    uint8_t oneday;
};

struct _log_gate_channel_config {
    _log_channel_config header;
    const char* server;
    uint32_t port;
    uint8_t filter;
};

struct _log_file_folder_channel_config {
    _log_channel_config header;
    uint32_t maxSize;
    uint32_t maxFiles;
    uint32_t maxAge;
    uint32_t scanPeriod;
    const char* folder;
    const char* file;
    const char* prefix;
    const char* extension;
};

struct _log_shared_file_channel_config {
    _log_channel_config header;
    uint32_t maxSize;
    uint32_t timeout;
    const char* file;
    uint8_t oneday;
};

// Frees a record returned by ToFlat.
struct FlatConfigFree {
    void operator()(_log_channel_config* flat) const noexcept { std::free(flat); }
};
using FlatConfigPtr = std::unique_ptr<_log_channel_config, FlatConfigFree>;

}  // namespace Logging
