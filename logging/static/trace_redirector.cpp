// The trace redirector: back-ends raise their own messages while they hold their locks, so
// the messages leave the thread as datagrams to this process's listener, which delivers them
// on its own thread like any received record.

#include "core/common/assert.h"
#include "logging/static/backends/gate_backend.h"
#include "logging/static/manager_state.h"

namespace Logging {

int32_t StartTraceRedirector(uint16_t minPort, uint16_t maxPort, uint16_t targetPort) {
    LoggingManager::Impl& impl = ManagerState();
    auto backend = std::make_unique<GateBackend>(minPort, maxPort);
    GateConfig config;
    config.Enabled = true;
    config.Level = INFORMATION;
    config.Flags = kDefaultOutputFlags;
    config.Server = "127.0.0.1";
    config.Port = targetPort;
    config.Filter = false;
    if (backend->SetConfig("trace-redirector", config) != LOGGING_RC_NOERROR) {
        impl.SelfTrace(__LINE__, "Unable to start trace redirector");
        return LOGGING_RC_INVALID_PARAM;
    }
    std::unique_ptr<Backend> old;
    {
        ExclusiveGuard guard(impl.redirectorLock);
        old = std::move(impl.redirectorBackend);
        impl.redirectorBackend = std::move(backend);
        impl.redirectorUsage = 1;
    }
    if (old != nullptr) {
        Common::ReportAssertion("RedirectorBackend == 0", kSelfTraceSource, __LINE__);
    }
    return LOGGING_RC_NOERROR;
}

Backend* AcquireTraceRedirector() {
    LoggingManager::Impl& impl = ManagerState();
    ExclusiveGuard guard(impl.redirectorLock);
    if (impl.redirectorBackend == nullptr) {
        return nullptr;
    }
    ++impl.redirectorUsage;
    return impl.redirectorBackend.get();
}

void ReleaseTraceRedirector() {
    LoggingManager::Impl& impl = ManagerState();
    std::unique_ptr<Backend> gone;
    {
        ExclusiveGuard guard(impl.redirectorLock);
        --impl.redirectorUsage;
        if (impl.redirectorUsage < 0) {
            Common::ReportAssertion("TraceRedirectorUsage >= 0", kSelfTraceSource, __LINE__);
            impl.redirectorUsage = 0;
        }
        if (impl.redirectorUsage == 0) {
            gone = std::move(impl.redirectorBackend);
        }
    }
    if (gone != nullptr) {
        gone->Close();
    }
}

}  // namespace Logging
