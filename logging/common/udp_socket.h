#pragma once

// A UDP socket on the loopback address with one overlapped receive at a time, whose event the
// control worker waits on.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/common/handles.h"

namespace Logging {

class UdpSocket {
public:
    // Bound to 127.0.0.1 at the first port of [minPort, maxPort] that is free; null when none
    // is (Winsock must have been started).
    static std::unique_ptr<UdpSocket> BindInRange(uint16_t minPort, uint16_t maxPort);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    uint16_t Port() const { return port_; }
    // Signalled when the receive started by StartReceive has ended.
    HANDLE Event() const { return event_.get(); }

    // Starts receiving the next datagram; false when the socket cannot.
    bool StartReceive();
    // The datagram of the receive that has ended (cut to 64 KiB); false when it failed or has
    // not ended yet.
    bool FinishReceive(std::string& datagram);
    // Sends `bytes` to 127.0.0.1:`port`.
    bool SendTo(uint16_t port, std::string_view bytes) const;

private:
    UdpSocket() = default;
    void CancelReceive();

    Common::UniqueSocket socket_;
    Common::UniqueHandle event_;
    uint16_t port_ = 0;
    WSAOVERLAPPED overlapped_ = {};
    bool receiving_ = false;
    char buffer_[65536];
    WSABUF bufferDescriptor_ = {};
    DWORD flags_ = 0;
};

}  // namespace Logging
