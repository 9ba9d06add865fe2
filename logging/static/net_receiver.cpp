#include "logging/static/net_receiver.h"

#include <string>
#include <vector>

#include "core/common/assert.h"
#include "logging/static/gate_datagrams.h"
#include "logging/static/manager_state.h"

namespace Logging {

namespace {

void Emit(const Gate::RecordFields& fields) {
    const std::string channel(fields.channel);
    TraceRecord record;
    // An empty name is the sender's default channel: it goes to this process's default.
    record.SetRendered(channel.empty() ? nullptr : channel.c_str(), fields.level,
                       static_cast<uint16_t>(fields.codeHigh), static_cast<uint16_t>(fields.codeLow),
                       fields.text.data(), fields.text.size());
    record.SetReceivedStamps(fields.timestamp, fields.threadId);
    DeliverRecord(record);
}

// The channels and their configurations, in the table's order, as reply packets.
std::vector<std::vector<uint8_t>> FilterReply() {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    Gate::FilterReplyWriter writer;
    for (const auto& channel : impl.channels) {
        uint32_t flags = 0;
        if (channel.first == impl.defaultChannel) {
            flags |= Gate::kFilterDefaultChannel;
        }
        if (channel.first == impl.mirrorChannel) {
            flags |= Gate::kFilterMirrorChannel;
        }
        writer.Add(channel.first, flags, channel.second.backend->GetConfig());
    }
    return writer.Finish();
}

}  // namespace

NetReceiver::~NetReceiver() {
    if (redirector_) {
        ReleaseTraceRedirector();
    }
}

bool NetReceiver::Start(uint16_t minPort, uint16_t maxPort) {
    if (!socket_.Create() || socket_.BindLoopback(minPort, maxPort, true) == 0) {
        socket_.Close();
        ManagerState().SelfTrace(__LINE__, "Unable to bind to a port in range %i-%i", minPort, maxPort);
        return false;
    }
    if (!socket_.StartReceive()) {
        Common::ReportAssertion("started", kSelfTraceSource, __LINE__);
        socket_.Close();
        return false;
    }
    redirector_ = StartTraceRedirector(minPort, maxPort, socket_.Port()) == LOGGING_RC_NOERROR;
    return true;
}

void NetReceiver::OnReceived() {
    size_t bytes = 0;
    if (socket_.GetResult(bytes) && bytes > 0) {
        HandleBuffer(socket_.Buffer(), bytes, acceptAll_, socket_, socket_.Sender());
    }
    if (!socket_.StartReceive()) {
        Common::ReportAssertion("started", kSelfTraceSource, __LINE__);
    }
}

void NetReceiver::HandleBuffer(const uint8_t* data, size_t size, bool acceptAllChannels, const Socket& socket,
                               const sockaddr_in& sender) {
    for (const Gate::ScannedItem& item : Gate::ScanBuffer(data, size)) {
        if (item.kind == Gate::ScannedItem::FilterRequest) {
            for (const std::vector<uint8_t>& packet : FilterReply()) {
                socket.SendTo(sender, packet.data(), packet.size());
            }
        } else if (acceptAllChannels || item.record.channel == kSelfTraceChannel) {
            Emit(item.record);
        }
    }
}

}  // namespace Logging
