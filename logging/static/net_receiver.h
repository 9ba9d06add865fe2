#pragma once

// The network receiver: a loopback UDP port on which other processes' gate back-ends (and
// this process's trace redirector) deliver their records. Each record datagram becomes a
// record of the same-named channel here; each filter request is answered with this process's
// channels and their levels. The control worker waits on Event() and calls OnReceived.

#include <cstddef>
#include <cstdint>

#include "logging/common/socket.h"

namespace Logging {

class NetReceiver {
public:
    // `acceptAllChannels` clear: only records of "logging-trace" are re-emitted.
    explicit NetReceiver(bool acceptAllChannels) : acceptAll_(acceptAllChannels) {}
    // Releases the trace redirector it started.
    ~NetReceiver();
    NetReceiver(const NetReceiver&) = delete;
    NetReceiver& operator=(const NetReceiver&) = delete;

    // Binds to a port of [minPort, maxPort), starts receiving and starts the trace redirector
    // towards that port; false, with "Unable to bind to a port in range %i-%i" traced, when no
    // port binds.
    bool Start(uint16_t minPort, uint16_t maxPort);
    uint16_t Port() const { return socket_.Port(); }
    HANDLE Event() const { return socket_.Event(); }

    // Handles the receive that has ended and starts the next one.
    void OnReceived();

    // What one received buffer asks for: its records re-emitted, its filter requests answered
    // to `sender` from `socket`.
    static void HandleBuffer(const uint8_t* data, size_t size, bool acceptAllChannels, const Socket& socket,
                             const sockaddr_in& sender);

private:
    UDPSocket socket_;
    bool acceptAll_;
    bool redirector_ = false;
};

}  // namespace Logging
