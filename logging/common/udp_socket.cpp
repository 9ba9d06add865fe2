#include "logging/common/udp_socket.h"

#include <ws2tcpip.h>

namespace Logging {

namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

std::unique_ptr<UdpSocket> UdpSocket::BindInRange(uint16_t minPort, uint16_t maxPort) {
    std::unique_ptr<UdpSocket> udp(new UdpSocket);
    udp->event_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!udp->event_) {
        return nullptr;
    }
    for (uint32_t port = minPort; port <= maxPort && port != 0; ++port) {
        udp->socket_.reset(::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_OVERLAPPED));
        if (!udp->socket_) {
            return nullptr;
        }
        // Exclusive: no other socket may share the port and read our datagrams.
        BOOL exclusive = TRUE;
        ::setsockopt(udp->socket_.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                     sizeof exclusive);
        const sockaddr_in address = Loopback(static_cast<uint16_t>(port));
        if (::bind(udp->socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            udp->port_ = static_cast<uint16_t>(port);
            return udp;
        }
    }
    return nullptr;
}

UdpSocket::~UdpSocket() {
    CancelReceive();
}

void UdpSocket::CancelReceive() {
    if (receiving_) {
        // The buffer and the overlapped record belong to the receive until it has ended.
        ::CancelIoEx(reinterpret_cast<HANDLE>(socket_.get()), &overlapped_);
        DWORD moved = 0;
        DWORD flags = 0;
        ::WSAGetOverlappedResult(socket_.get(), &overlapped_, &moved, TRUE, &flags);
        receiving_ = false;
    }
}

bool UdpSocket::StartReceive() {
    CancelReceive();
    overlapped_ = WSAOVERLAPPED{};
    overlapped_.hEvent = event_.get();
    bufferDescriptor_.buf = buffer_;
    bufferDescriptor_.len = sizeof buffer_;
    flags_ = 0;
    ::ResetEvent(event_.get());
    if (::WSARecvFrom(socket_.get(), &bufferDescriptor_, 1, nullptr, &flags_, nullptr, nullptr, &overlapped_,
                      nullptr) != 0 &&
        ::WSAGetLastError() != WSA_IO_PENDING) {
        return false;
    }
    receiving_ = true;
    return true;
}

bool UdpSocket::FinishReceive(std::string& datagram) {
    if (!receiving_) {
        return false;
    }
    DWORD moved = 0;
    DWORD flags = 0;
    const BOOL received = ::WSAGetOverlappedResult(socket_.get(), &overlapped_, &moved, FALSE, &flags);
    if (!received && ::WSAGetLastError() == WSA_IO_INCOMPLETE) {
        return false;  // still waiting
    }
    receiving_ = false;
    if (!received) {
        return false;
    }
    datagram.assign(buffer_, moved);
    return true;
}

bool UdpSocket::SendTo(uint16_t port, std::string_view bytes) const {
    const sockaddr_in address = Loopback(port);
    return ::sendto(socket_.get(), bytes.data(), static_cast<int>(bytes.size()), 0,
                    reinterpret_cast<const sockaddr*>(&address), sizeof address) == static_cast<int>(bytes.size());
}

}  // namespace Logging
