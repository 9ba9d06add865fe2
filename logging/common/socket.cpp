#include "logging/common/socket.h"

#include <cstring>

#include "core/common/assert.h"

namespace Logging {

namespace {

constexpr char kSocketSource[] = "logging/common/socket";
constexpr int kResetRetries = 64;

}  // namespace

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(port);
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    return address;
}

bool ParseAddress(const char* address, uint16_t port, sockaddr_in& out) {
    const unsigned long parsed = address != nullptr ? ::inet_addr(address) : INADDR_NONE;
    // inet_addr's failure value is also the broadcast address.
    if (parsed == INADDR_NONE && (address == nullptr || std::strcmp(address, "255.255.255.255") != 0)) {
        return false;
    }
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = ::htons(port);
    out.sin_addr.s_addr = parsed;
    return true;
}

Socket::Socket() : winsock_(MAKEWORD(1, 1)) {}

Socket::~Socket() = default;

bool Socket::Create() {
    Close();
    socket_.reset(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    return socket_.valid();
}

void Socket::Close() {
    socket_.reset();
    port_ = 0;
}

bool Socket::SetNonBlocking() {
    u_long on = 1;
    return ::ioctlsocket(socket_.get(), FIONBIO, &on) == 0;
}

uint16_t Socket::BindLoopback(uint32_t minPort, uint32_t maxPort, bool exclusive) {
    if (exclusive) {
        BOOL on = TRUE;
        ::setsockopt(socket_.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
    }
    // Port 0 would bind to any free port, outside the range.
    for (uint32_t port = minPort > 0 ? minPort : 1; port < maxPort && port <= 0xFFFF; ++port) {
        const sockaddr_in address = LoopbackAddress(static_cast<uint16_t>(port));
        if (::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            port_ = static_cast<uint16_t>(port);
            return port_;
        }
    }
    return 0;
}

bool Socket::SendTo(const sockaddr_in& to, const void* data, size_t size) const {
    const int sent = ::sendto(socket_.get(), static_cast<const char*>(data), static_cast<int>(size), 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent >= 0 && static_cast<size_t>(sent) == size;
}

int Socket::Receive(void* buffer, size_t size, int& error) const {
    const int received = ::recv(socket_.get(), static_cast<char*>(buffer), static_cast<int>(size), 0);
    error = received < 0 ? ::WSAGetLastError() : 0;
    return received < 0 ? -1 : received;
}

UDPSocket::UDPSocket() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

UDPSocket::~UDPSocket() {
    CancelReceive();
}

void UDPSocket::Close() {
    CancelReceive();
    Socket::Close();
}

void UDPSocket::CancelReceive() {
    if (!receiving_) {
        return;
    }
    // The buffer and the overlapped record belong to the receive until it has ended.
    ::CancelIoEx(reinterpret_cast<HANDLE>(Get()), &overlapped_);
    DWORD moved = 0;
    DWORD flags = 0;
    ::WSAGetOverlappedResult(Get(), &overlapped_, &moved, TRUE, &flags);
    receiving_ = false;
}

bool UDPSocket::StartReceive() {
    CancelReceive();
    bool success = IsOpen() && event_.valid();
    if (success) {
        overlapped_ = WSAOVERLAPPED{};
        overlapped_.hEvent = event_.get();
        descriptor_.buf = reinterpret_cast<char*>(buffer_);
        descriptor_.len = kBufferSize;
        sender_ = sockaddr_in{};
        senderLength_ = sizeof sender_;
        flags_ = 0;
        // A datagram sent to a port nobody holds comes back as a reset of the next receive:
        // that is about an earlier send, not about this receive, which is simply tried again.
        for (int attempt = 0;; ++attempt) {
            ::ResetEvent(event_.get());
            if (::WSARecvFrom(Get(), &descriptor_, 1, nullptr, &flags_, reinterpret_cast<sockaddr*>(&sender_),
                              &senderLength_, &overlapped_, nullptr) == 0) {
                break;
            }
            const int error = ::WSAGetLastError();
            success = error == WSA_IO_PENDING;
            if (success || error != WSAECONNRESET || attempt == kResetRetries) {
                break;
            }
            senderLength_ = sizeof sender_;
            flags_ = 0;
        }
    }
    if (!success) {
        Common::ReportAssertion("success", kSocketSource, __LINE__);
        return false;
    }
    receiving_ = true;
    return true;
}

bool UDPSocket::GetResult(size_t& bytes) {
    bytes = 0;
    if (!receiving_) {
        return false;
    }
    DWORD moved = 0;
    DWORD flags = 0;
    const BOOL done = ::WSAGetOverlappedResult(Get(), &overlapped_, &moved, FALSE, &flags);
    if (!done && ::WSAGetLastError() == WSA_IO_INCOMPLETE) {
        return false;
    }
    receiving_ = false;
    if (!done) {
        return false;
    }
    bytes = moved;
    return true;
}

}  // namespace Logging
