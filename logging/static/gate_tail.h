#pragma once

// The receiving end of a live view of another process's records: a loopback port that a gate
// channel of that process sends to. Every filter request is answered with an empty reply,
// which lets every record through (an entry would speak for one channel name only, and the
// records that reach the viewed channel through links carry their own); every record
// datagram received whole becomes one printed line.

#include <cstdint>
#include <functional>
#include <string>

#include "logging/common/socket.h"

namespace Logging {

class GateTail {
public:
    // Binds to a free port of [minPort, maxPort) and starts receiving; false when none binds.
    bool Open(uint32_t minPort, uint32_t maxPort);
    uint16_t Port() const { return socket_.Port(); }
    // Signalled when datagrams are waiting for OnReceived.
    HANDLE Event() const { return socket_.Event(); }

    // Answers the filter requests of the receive that has ended and hands the line of each of
    // its records to `print`; then receives again. A damaged record is skipped whole.
    void OnReceived(const std::function<void(const std::string& line)>& print);

private:
    UDPSocket socket_;
};

}  // namespace Logging
