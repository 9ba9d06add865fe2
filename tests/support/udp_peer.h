#pragma once

// The other end of a gate or a receiver in a test: a non-blocking UDP socket on a free
// loopback port, written with the plain Winsock calls so that it shares no code with the
// sockets under test.

#include "core/common/handles.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

class UdpPeer {
public:
    UdpPeer() : winsock_(MAKEWORD(2, 2)), socket_(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {
        u_long on = 1;
        sockaddr_in address = Address(0);
        int length = sizeof address;
        if (!socket_ || ::ioctlsocket(socket_.get(), FIONBIO, &on) != 0 ||
            ::bind(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no test socket: " << ::WSAGetLastError();
        }
        port_ = ::ntohs(address.sin_port);
    }

    static sockaddr_in Address(uint16_t port) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = ::htons(port);
        address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        return address;
    }

    uint16_t Port() const { return port_; }

    void SendTo(const sockaddr_in& to, const void* data, size_t size) const {
        EXPECT_EQ(::sendto(socket_.get(), static_cast<const char*>(data), static_cast<int>(size), 0,
                           reinterpret_cast<const sockaddr*>(&to), sizeof to),
                  static_cast<int>(size));
    }
    void SendTo(uint16_t port, const std::vector<uint8_t>& bytes) const {
        SendTo(Address(port), bytes.data(), bytes.size());
    }

    // One datagram, or false when none arrives within `timeoutMs`.
    bool Receive(std::vector<uint8_t>& bytes, DWORD timeoutMs = 3000, sockaddr_in* from = nullptr) const {
        const ULONGLONG start = ::GetTickCount64();
        bytes.resize(0x10000);
        for (;;) {
            sockaddr_in sender = {};
            int length = sizeof sender;
            const int n = ::recvfrom(socket_.get(), reinterpret_cast<char*>(bytes.data()),
                                     static_cast<int>(bytes.size()), 0, reinterpret_cast<sockaddr*>(&sender), &length);
            if (n >= 0) {
                bytes.resize(static_cast<size_t>(n));
                if (from != nullptr) {
                    *from = sender;
                }
                return true;
            }
            if (::GetTickCount64() - start >= timeoutMs) {
                bytes.clear();
                return false;
            }
            ::Sleep(1);
        }
    }

private:
    Common::WinsockScope winsock_;
    Common::UniqueSocket socket_;
    uint16_t port_ = 0;
};

}  // namespace TestSupport
