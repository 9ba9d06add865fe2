#pragma once

// A named pipe's server end as the control worker sees it: an object to wait on that is
// signalled when a client connects, and reads and writes that either move the whole buffer
// within a time-out or fail.

#include <cstdint>

namespace Logging {

class Pipe {
public:
    // The event to wait on (a system handle): signalled once a client has connected.
    virtual void* Event() const = 0;
    // Disconnects a client that is still connected.
    virtual ~Pipe() = default;
    // Starts waiting for the next client; false when the pipe cannot.
    virtual bool Listen() = 0;
    virtual void Disconnect() = 0;
    // `size` when exactly that many bytes were moved within `timeoutMs`, else 0; an operation
    // that times out is cancelled.
    virtual uint32_t Read(void* buffer, uint32_t size, uint32_t timeoutMs) = 0;
    virtual uint32_t Write(const void* buffer, uint32_t size, uint32_t timeoutMs) = 0;
};

}  // namespace Logging
