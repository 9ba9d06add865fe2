#include "logging/static/control_worker.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/assert.h"
#include "core/common/handles.h"
#include "logging/common/socket.h"
#include "logging/common/srw_lock.h"
#include "logging/common/thread_win.h"
#include "logging/common/win_pipe.h"
#include "logging/static/control_commands.h"
#include "logging/static/control_pipe.h"
#include "logging/static/manager_state.h"
#include "logging/static/net_receiver.h"

namespace Logging {

namespace {

constexpr char kExitDatagram[] = "exit";
constexpr char kFatalDatagram[] = "fatal";

bool SendToSelf(const UDPSocket& socket, std::string_view datagram) {
    return socket.SendTo(LoopbackAddress(socket.Port()), datagram.data(), datagram.size());
}

// Only the worker's own socket sends it "exit" and "fatal": another local process that
// knows the port cannot stop the worker of this one.
bool FromSelf(const UDPSocket& socket) {
    const sockaddr_in& sender = socket.Sender();
    return sender.sin_family == AF_INET && sender.sin_addr.s_addr == ::htonl(INADDR_LOOPBACK) &&
           sender.sin_port == ::htons(socket.Port());
}

class ControlWorker {
public:
    ~ControlWorker() { Stop(); }

    bool Start(const WorkerSettings& settings);
    void Stop();
    bool Running() {
        SharedGuard guard(lifecycle_);
        return thread_ != nullptr;
    }
    uint16_t Port() {
        SharedGuard guard(lifecycle_);
        return wakeUp_ ? wakeUp_->Port() : 0;
    }
    uint16_t ListenerPort() const { return listenerPort_.load(); }
    bool DeliverFatal(TraceRecord& record);

private:
    bool WaitDelivered(const TraceRecord* record, DWORD timeoutMs);
    enum class Next { Continue, DropMember, End };
    // One object of the wait set and what to do when it is signalled.
    struct WaitMember {
        HANDLE event;
        Next (ControlWorker::*onSignal)();
    };

    static uint32_t Main(void* self);
    void Run();
    Next OnStop() { return Next::End; }
    Next OnWakeUp();
    Next OnPipe();
    Next OnListener();

    SrwLock lifecycle_;
    WorkerSettings settings_;
    std::unique_ptr<Common::WinsockScope> winsock_;
    std::unique_ptr<UDPSocket> wakeUp_;
    std::unique_ptr<WinPipe> pipe_;
    // Made and ended on the worker thread, which alone touches it.
    std::unique_ptr<NetReceiver> listener_;
    std::atomic<uint16_t> listenerPort_{0};
    Common::UniqueHandle startEvent_;
    Common::UniqueHandle fatalDoneEvent_;
    // Signalled by Stop: ends the loop and cuts a pipe exchange short.
    Common::UniqueHandle stopEvent_;
    ThreadHandle thread_;
    std::atomic<bool> stopping_{false};
    // One fatal record at a time: the one waiting for the worker, and the last it wrote.
    std::atomic<bool> fatalBusy_{false};
    std::atomic<TraceRecord*> pendingFatal_{nullptr};
    std::atomic<const TraceRecord*> delivered_{nullptr};
};

bool ControlWorker::Start(const WorkerSettings& settings) {
    LoggingManager::Impl& impl = ManagerState();
    ExclusiveGuard guard(lifecycle_);
    if (thread_) {
        return true;
    }
    settings_ = settings;
    winsock_ = std::make_unique<Common::WinsockScope>(MAKEWORD(2, 2));
    wakeUp_ = winsock_->started() ? std::make_unique<UDPSocket>() : nullptr;
    // Exclusive: no other socket may share the port and read our datagrams. The range is
    // inclusive of its upper end.
    if (!wakeUp_ || !wakeUp_->Create() ||
        wakeUp_->BindLoopback(settings.minPort, static_cast<uint32_t>(settings.maxPort) + 1, true) == 0 ||
        !wakeUp_->StartReceive()) {
        impl.SelfTrace(__LINE__, "Unable to bind to a port in range %i-%i", settings.minPort, settings.maxPort);
        wakeUp_.reset();
        winsock_.reset();
        return false;
    }
    startEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    fatalDoneEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stopEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    stopping_.store(false);
    if (startEvent_ && fatalDoneEvent_ && stopEvent_) {
        thread_ = StartThread(&ControlWorker::Main, this);
    }
    if (!thread_) {
        impl.SelfTrace(__LINE__, "Unable to start the worker thread: error %lu", ::GetLastError());
        wakeUp_.reset();
        winsock_.reset();
        return false;
    }
    ::WaitForSingleObject(startEvent_.get(), INFINITE);
    return true;
}

void ControlWorker::Stop() {
    ExclusiveGuard guard(lifecycle_);
    if (!thread_) {
        return;
    }
    stopping_.store(true);
    ::SetEvent(stopEvent_.get());
    SendToSelf(*wakeUp_, kExitDatagram);
    thread_.reset();  // joins
    pipe_.reset();
    wakeUp_.reset();
    winsock_.reset();
}

uint32_t ControlWorker::Main(void* self) {
    static_cast<ControlWorker*>(self)->Run();
    return 0;
}

void ControlWorker::Run() {
    LoggingManager::Impl& impl = ManagerState();
    if (stopping_.load() || impl.shuttingDown.load()) {
        ::SetEvent(startEvent_.get());
        return;
    }
    impl.SelfTrace(__LINE__, "Worker thread started. NetListener=%s ControlPipe=%s", settings_.listener ? "yes" : "no",
                   settings_.controlPipe ? "yes" : "no");
    std::vector<WaitMember> members = {{stopEvent_.get(), &ControlWorker::OnStop},
                                       {wakeUp_->Event(), &ControlWorker::OnWakeUp}};
    if (settings_.listener) {
        // A second socket of the range, and the trace redirector towards it; a failure is
        // traced, and the worker goes on without.
        listener_ = std::make_unique<NetReceiver>(settings_.listenerAcceptsAll);
        if (listener_->Start(settings_.minPort, settings_.maxPort)) {
            members.push_back({listener_->Event(), &ControlWorker::OnListener});
            listenerPort_.store(listener_->Port());
        } else {
            listener_.reset();
        }
    }
    if (settings_.controlPipe) {
        DWORD error = ERROR_SUCCESS;
        pipe_ = WinPipe::Create(settings_.pipeName, stopEvent_.get(), error);
        if (pipe_ && pipe_->Listen()) {
            members.push_back({static_cast<HANDLE>(pipe_->Event()), &ControlWorker::OnPipe});
        } else {
            impl.SelfTrace(__LINE__, "Unable to open the control pipe %s: error %lu", settings_.pipeName.c_str(),
                           pipe_ ? ::GetLastError() : error);
            pipe_.reset();
        }
    }
    ::SetEvent(startEvent_.get());

    std::vector<HANDLE> events;
    for (;;) {
        events.clear();
        for (const WaitMember& member : members) {
            events.push_back(member.event);
        }
        const DWORD Result =
            ::WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, INFINITE);
        if (Result == WAIT_FAILED || Result >= WAIT_OBJECT_0 + events.size()) {
            Common::ReportAssertion("Result != WAIT_FAILED", kSelfTraceSource, __LINE__);
            break;
        }
        const size_t index = Result - WAIT_OBJECT_0;
        const Next next = (this->*members[index].onSignal)();
        if (next == Next::End || stopping_.load()) {
            break;
        }
        if (next == Next::DropMember) {
            members.erase(members.begin() + static_cast<std::ptrdiff_t>(index));
        }
    }
    // The listener's socket closes and the redirector goes with it.
    listenerPort_.store(0);
    listener_.reset();
    ::SetEvent(startEvent_.get());
    ::SetEvent(fatalDoneEvent_.get());
    pendingFatal_.store(nullptr);
}

ControlWorker::Next ControlWorker::OnListener() {
    listener_->OnReceived();
    return Next::Continue;
}

ControlWorker::Next ControlWorker::OnWakeUp() {
    size_t bytes = 0;
    const bool received = wakeUp_->GetResult(bytes) && FromSelf(*wakeUp_);
    const std::string datagram(reinterpret_cast<const char*>(wakeUp_->Buffer()), received ? bytes : 0);
    if (received && datagram == kExitDatagram) {
        return Next::End;
    }
    if (received && datagram == kFatalDatagram) {
        TraceRecord* record = pendingFatal_.exchange(nullptr);
        if (record != nullptr) {
            DeliverRecord(*record);
        }
        FlushAllChannels();
        delivered_.store(record);
        ::SetEvent(fatalDoneEvent_.get());
    }
    return wakeUp_->StartReceive() ? Next::Continue : Next::DropMember;
}

ControlWorker::Next ControlWorker::OnPipe() {
    ServeControlClient(*pipe_,
                       [](std::string_view line) { return RunControlCommand(LoggingManager::Instance(), line); });
    pipe_->Disconnect();
    if (!pipe_->Listen()) {
        ManagerState().SelfTrace(__LINE__, "Unable to listen on the control pipe %s: error %lu",
                                 settings_.pipeName.c_str(), ::GetLastError());
        return Next::DropMember;
    }
    return Next::Continue;
}

bool ControlWorker::DeliverFatal(TraceRecord& record) {
    SharedGuard guard(lifecycle_);
    if (!thread_ || ThreadId(thread_) == ::GetCurrentThreadId() || fatalBusy_.exchange(true)) {
        return false;
    }
    delivered_.store(nullptr);
    pendingFatal_.store(&record);
    constexpr DWORD kTakeWaitMs = 10000;
    bool done = SendToSelf(*wakeUp_, kFatalDatagram) && WaitDelivered(&record, kTakeWaitMs);
    if (!done) {
        TraceRecord* mine = &record;
        if (pendingFatal_.compare_exchange_strong(mine, nullptr)) {
            fatalBusy_.store(false);
            return false;  // the worker never took it
        }
        // The worker is writing the record, which lives on our stack until it is done.
        done = WaitDelivered(&record, INFINITE);
    }
    fatalBusy_.store(false);
    return done;
}

bool ControlWorker::WaitDelivered(const TraceRecord* record, DWORD timeoutMs) {
    const ULONGLONG deadline = timeoutMs == INFINITE ? 0 : ::GetTickCount64() + timeoutMs;
    for (;;) {
        if (delivered_.load() == record) {
            return true;
        }
        const ULONGLONG now = ::GetTickCount64();
        const DWORD remaining =
            timeoutMs == INFINITE ? INFINITE : (now < deadline ? static_cast<DWORD>(deadline - now) : 0);
        if (::WaitForSingleObject(fatalDoneEvent_.get(), remaining) != WAIT_OBJECT_0) {
            return delivered_.load() == record;
        }
        // Another record's signal, or ours: the check above tells, after the reset.
        ::ResetEvent(fatalDoneEvent_.get());
    }
}

// Made at the first Initialize, after the manager: it is destroyed before the manager.
ControlWorker& TheWorker() {
    static ControlWorker worker;
    return worker;
}

}  // namespace

bool StartControlWorker(const WorkerSettings& settings) {
    return TheWorker().Start(settings);
}

void StopControlWorker() {
    TheWorker().Stop();
}

bool ControlWorkerRunning() {
    return TheWorker().Running();
}

uint16_t ControlWorkerPort() {
    return TheWorker().Port();
}

uint16_t ControlWorkerListenerPort() {
    return TheWorker().ListenerPort();
}

void DeliverFatalRecord(TraceRecord& record) {
    if (!TheWorker().DeliverFatal(record)) {
        DeliverRecord(record);
        FlushAllChannels();
    }
}

}  // namespace Logging
