#include "logging/static/backends/gate_backend.h"

#include <string>

#include "logging/static/manager_internal.h"

namespace Logging {

namespace {

constexpr uint32_t kFilterReplyWaitMs = 5000;

std::shared_ptr<Backend> MakeGateBackend() {
    uint16_t minPort = 0;
    uint16_t maxPort = 0;
    UdpPortRange(minPort, maxPort);
    return std::make_shared<GateBackend>(minPort, maxPort);
}

const bool g_registered = (RegisterBackendFactory(BACKEND_GATE, &MakeGateBackend), true);

}  // namespace

GateBackend::GateBackend(uint32_t minPort, uint32_t maxPort) : minPort_(minPort), maxPort_(maxPort) {
    SetFixedBits(kSerialisedWrites);
}

GateBackend::~GateBackend() = default;

void GateBackend::RegisterProperties(const char*, const ChannelConfig&) {
    properties_ = {
        {"server", 1, PROPERTY_STRING, &config_.Server, nullptr, 0},
        {"port", 1, PROPERTY_DWORD, &config_.Port, nullptr, 0},
        {"serial", 1, PROPERTY_DWORD, nullptr, &GateBackend::SerialProperty, 0},
        {"minPort", 1, PROPERTY_DWORD, &minPort_, nullptr, 0},
        {"maxPort", 1, PROPERTY_DWORD, &maxPort_, nullptr, 0},
        {"filter", 1, PROPERTY_BOOL, &config_.Filter, nullptr, 0},
    };
}

int32_t GateBackend::SerialProperty(Backend& backend, const char*, std::string& value, bool get) {
    if (!get) {
        return LOGGING_RC_READ_ONLY;
    }
    value = std::to_string(static_cast<GateBackend&>(backend).Serial());
    return LOGGING_RC_NOERROR;
}

bool GateBackend::IsFiltered(const TraceRecord& record) const {
    return config_.Filter ? false : BaseBackend::IsFiltered(record);
}

int64_t GateBackend::LowestWrittenLevel() const {
    if (!config_.Enabled) {
        return INT64_MAX;
    }
    // The receiver's levels are not known before the first record is written.
    return config_.Filter ? INT64_MIN : static_cast<int64_t>(config_.Level);
}

int32_t GateBackend::Open(const char*) {
    socket_.Close();
    awaitingReply_ = false;
    if (config_.Server.empty() || config_.Port == 0 ||
        !ParseAddress(config_.Server.c_str(), static_cast<uint16_t>(config_.Port), server_)) {
        return LOGGING_RC_INVALID_PARAM;
    }
    // The receiver renders the line's end and pieces; only the text travels.
    config_.Flags = OF_NOLF | (config_.Flags & OF_DUMPERROR);
    if (!config_.Enabled) {
        return LOGGING_RC_NOERROR;
    }
    if (!socket_.Create() || !socket_.SetNonBlocking() || socket_.BindLoopback(minPort_, maxPort_, false) == 0) {
        socket_.Close();
        return LOGGING_RC_INTERNAL;
    }
    if (config_.Filter) {
        const std::vector<uint8_t> request = Gate::EncodeFilterRequest();
        // Without a request on its way there is no reply to wait for.
        awaitingReply_ = socket_.SendTo(server_, request.data(), request.size());
    }
    return LOGGING_RC_NOERROR;
}

void GateBackend::Close() {
    socket_.Close();
    awaitingReply_ = false;
}

bool GateBackend::KnowsRemoteChannel(std::string_view name) const {
    SharedGuard guard(filterLock_);
    for (const Gate::FilterEntry& entry : filter_) {
        if (entry.name == name) {
            return true;
        }
    }
    return false;
}

int GateBackend::ReceiveWithin(uint32_t milliseconds) {
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        int error = 0;
        const int received = socket_.Receive(datagram_, sizeof datagram_, error);
        if (received >= 0) {
            return received;
        }
        // Anything but "nothing yet" (a reset: nobody holds the server's port; a datagram too
        // long for a reply) ends the wait.
        if (error != WSAEWOULDBLOCK || ::GetTickCount64() - start >= milliseconds) {
            return -1;
        }
        ::Sleep(1);
    }
}

void GateBackend::ReadFilterReply() {
    std::vector<Gate::FilterEntry> entries;
    while (awaitingReply_) {
        awaitingReply_ = false;
        const int received = ReceiveWithin(kFilterReplyWaitMs);
        if (received < 0) {
            break;
        }
        if (Gate::ReadFilterReplyPacket(datagram_, static_cast<size_t>(received), entries) ==
            Gate::FilterPacket::More) {
            awaitingReply_ = true;
        }
    }
    ExclusiveGuard guard(filterLock_);
    filter_.swap(entries);
}

void GateBackend::Write(TraceRecord& record) {
    if (!socket_.IsOpen()) {
        return;
    }
    const std::string_view channel = record.ChannelBase();
    bool isDefault = false;
    if (!record.Forwarded()) {
        // A back-end's own message never reaches the manager from here: its caller may hold
        // locks that the manager's lock must not wait behind.
        const std::string defaultChannel = DefaultChannelName();
        isDefault = channel == defaultChannel;
        if (config_.Filter) {
            if (awaitingReply_) {
                ReadFilterReply();
            }
            SharedGuard guard(filterLock_);
            if (!Gate::FilterPasses(filter_, channel, defaultChannel, record.Level())) {
                return;
            }
        }
    }
    Gate::RecordFields fields;
    // First: rendering an error record gives it its codes.
    fields.text = record.BuildLine(EffectiveFlags(), Prefix(), PrefixExpanded());
    fields.serial = serial_.fetch_add(1, std::memory_order_relaxed) + 1;
    fields.level = record.Level();
    fields.codeHigh = record.CodeHigh();
    fields.codeLow = record.CodeLow();
    fields.threadId = record.Environment().ThreadId();
    fields.timestamp = record.TimestampText(false);
    fields.channel = isDefault ? std::string_view() : channel;
    const size_t length = Gate::EncodeRecord(fields, datagram_);
    if (!socket_.SendTo(server_, datagram_, length)) {
        TraceFromBackend(DEBUG_TRACE, "GateBackend: unable to send packet to %s:%i error\n", config_.Server.c_str(),
                         static_cast<int>(config_.Port));
    }
}

}  // namespace Logging
