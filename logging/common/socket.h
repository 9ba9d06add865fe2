#pragma once

// UDP sockets on the loopback address for the gate back-end and the network receiver. Each
// object keeps Windows Sockets started (version 1.1) for as long as it lives.

#include <cstddef>
#include <cstdint>

#include "core/common/handles.h"

namespace Logging {

class Socket {
public:
    Socket();
    virtual ~Socket();
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // A new UDP socket in place of the open one; false when none can be had.
    bool Create();
    virtual void Close();
    bool IsOpen() const { return socket_.valid(); }
    SOCKET Get() const { return socket_.get(); }

    bool SetNonBlocking();
    // Binds to 127.0.0.1 at the first port of [minPort, maxPort) that binds and returns it; 0
    // when none does (or minPort >= maxPort). `exclusive`: no other socket may take the port
    // over while this one holds it.
    uint16_t BindLoopback(uint32_t minPort, uint32_t maxPort, bool exclusive);
    uint16_t Port() const { return port_; }

    // False unless the whole datagram was sent.
    bool SendTo(const sockaddr_in& to, const void* data, size_t size) const;
    // The byte count of one datagram, or -1 with the reason in `error` (WSAEWOULDBLOCK when a
    // non-blocking socket has nothing).
    int Receive(void* buffer, size_t size, int& error) const;

private:
    Common::WinsockScope winsock_;
    Common::UniqueSocket socket_;
    uint16_t port_ = 0;
};

// 127.0.0.1 at `port`, or the dotted IPv4 address `address`.
sockaddr_in LoopbackAddress(uint16_t port);
bool ParseAddress(const char* address, uint16_t port, sockaddr_in& out);

// A socket that always has one overlapped receive outstanding, whose event a worker waits on.
class UDPSocket : public Socket {
public:
    static constexpr size_t kBufferSize = 0x10000;

    UDPSocket();
    ~UDPSocket() override;
    void Close() override;

    // Starts receiving the next datagram; a failure is reported as an assertion and returns false.
    bool StartReceive();
    // The result of the receive that has ended: its byte count, false when it failed or has not
    // ended. The bytes are in Buffer(), the sender's address in Sender().
    bool GetResult(size_t& bytes);
    const uint8_t* Buffer() const { return buffer_; }
    const sockaddr_in& Sender() const { return sender_; }
    // Signalled when a receive has ended.
    HANDLE Event() const { return event_.get(); }

private:
    void CancelReceive();

    Common::UniqueHandle event_;
    WSAOVERLAPPED overlapped_ = {};
    bool receiving_ = false;
    sockaddr_in sender_ = {};
    int senderLength_ = sizeof(sockaddr_in);
    DWORD flags_ = 0;
    WSABUF descriptor_ = {};
    uint8_t buffer_[kBufferSize];
};

}  // namespace Logging
