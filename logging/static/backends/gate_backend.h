#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <vector>

#include "logging/common/socket.h"
#include "logging/common/srw_lock.h"
#include "logging/static/backend.h"
#include "logging/static/gate_datagrams.h"

namespace Logging {

// Sends every record as one datagram to a receiver on this machine (server:port), from a
// non-blocking socket bound to a loopback port of [minPort, maxPort). With `filter` set it
// first asks the receiver for its channels' levels and drops, before sending, what the
// receiver would not write.
class GateBackend final : public BaseBackend<GateConfig, 0> {
public:
    GateBackend(uint32_t minPort, uint32_t maxPort);
    ~GateBackend() override;

    void Write(TraceRecord& record) override;
    void RegisterProperties(const char* channel, const ChannelConfig& config) override;
    // With `filter` set the receiver's filter list decides, in Write.
    bool IsFiltered(const TraceRecord& record) const override;
    int64_t LowestWrittenLevel() const override;
    int32_t Open(const char* channel) override;
    void Close() override;

    // Whether the receiver's last filter reply named a channel `name`.
    bool KnowsRemoteChannel(std::string_view name) const;
    uint32_t Serial() const { return serial_.load(std::memory_order_relaxed); }

private:
    // Replaces the filter list by the receiver's reply, waiting for each packet.
    void ReadFilterReply();
    // One datagram into datagram_: its length, or -1 when none came in time.
    int ReceiveWithin(uint32_t milliseconds);
    static int32_t SerialProperty(Backend& backend, const char* name, std::string& value, bool get);

    std::atomic<uint32_t> serial_{0};
    uint32_t minPort_;
    uint32_t maxPort_;
    Socket socket_;
    sockaddr_in server_ = {};
    bool awaitingReply_ = false;
    // Taken by Write when the list changes and by lookups from other threads.
    mutable SrwLock filterLock_;
    std::vector<Gate::FilterEntry> filter_;
    uint8_t datagram_[Gate::kMaxDatagramSize];
};

}  // namespace Logging
