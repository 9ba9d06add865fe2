// The manager's start and end: the process-wide instance, the hooks that the library's parts
// install, initialisation and release.

#include "core/common/assert.h"
#include "logging/static/control_worker.h"
#include "logging/static/manager_state.h"

namespace Logging {

std::atomic<bool> g_managerAlive{false};
std::atomic<ConfigurationHook> g_configurationHook{nullptr};
std::atomic<CommandHook> g_commandHook{nullptr};
BackendFactory g_backendFactories[kMaxBackendType + 1] = {};

namespace {
// Filled by static initialisation, before any thread but the first exists.
constexpr size_t kMaxReleaseHooks = 8;
void (*g_releaseHooks[kMaxReleaseHooks])() = {};
size_t g_releaseHookCount = 0;
}  // namespace

void RegisterReleaseHook(void (*hook)()) {
    if (hook != nullptr && g_releaseHookCount < kMaxReleaseHooks) {
        g_releaseHooks[g_releaseHookCount++] = hook;
    }
}

LoggingManager& LoggingManager::Instance() {
    static LoggingManager manager;
    return manager;
}

namespace {
// The manager exists before main, so that every static object constructed later may log
// until its destruction.
const bool g_managerCreated = (LoggingManager::Instance(), true);
}  // namespace

LoggingManager::LoggingManager() : impl_(std::make_unique<Impl>()) {
    g_managerAlive.store(true);
}

LoggingManager::~LoggingManager() {
    g_managerAlive.store(false);
    impl_->shuttingDown.store(true);
    {
        // Whoever started the redirector (the network listener) has released it by now.
        SharedGuard guard(impl_->redirectorLock);
        if (impl_->redirectorUsage != 0) {
            Common::ReportAssertion("TraceRedirectorUsage == 0", kSelfTraceSource, __LINE__);
        }
        if (impl_->redirectorBackend != nullptr) {
            Common::ReportAssertion("RedirectorBackend == 0", kSelfTraceSource, __LINE__);
        }
    }
    Impl::Lock lock(*impl_, kExclusive);
    for (auto& channel : impl_->channels) {
        channel.second.backend->Close();
    }
}

void SetConfigurationHook(ConfigurationHook hook) {
    g_configurationHook.store(hook);
}

void SetCommandHook(CommandHook hook) {
    g_commandHook.store(hook);
}

BackendFactory RegisterBackendFactory(uint32_t type, BackendFactory factory) {
    if (type > kMaxBackendType) {
        return nullptr;
    }
    const BackendFactory previous = g_backendFactories[type];
    g_backendFactories[type] = factory;
    return previous;
}

bool BackendTypeAvailable(uint32_t type) {
    switch (type) {
        case BACKEND_NULL:
        case BACKEND_DEBUGGER:
        case BACKEND_CONSOLE:
        case BACKEND_CUSTOM: return true;
        default: return type <= kMaxBackendType && g_backendFactories[type] != nullptr;
    }
}

void SetConfigurationMode(uint32_t mode) {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kExclusive);
    impl.readingMode = mode;
}

uint32_t LoggingManager::Initialize(const InitParameters* parameters, PanicLogicIf* panic) {
    Impl& impl = *impl_;
    {
        Impl::Lock lock(impl, kExclusive);
        if (!lock.Held() || impl.cookie != 0) {
            return 0;
        }
        const InitParameters none{};
        const InitParameters& p = parameters != nullptr ? *parameters : none;
        impl.homeDirectory = p.homeDirectory != nullptr ? p.homeDirectory : "";
        impl.configDirectory = p.configDirectory != nullptr ? p.configDirectory : "";
        impl.configName = p.configName != nullptr ? p.configName : "";
        impl.controlPipe = p.controlPipe != 0;
        impl.listener = p.listener != 0;
        impl.listenerAcceptsAll = p.listener == kListenerAllChannels;
        if (p.minPort != 0 && p.maxPort != 0) {
            if (p.maxPort < p.minPort) {
                Common::ReportAssertion("config->MaxPort >= config->MinPort", kSelfTraceSource, __LINE__);
            }
            if (p.listener != 0 && !(p.maxPort > p.minPort)) {
                Common::ReportAssertion("config->MaxPort > config->MinPort || !config->Listener", kSelfTraceSource,
                                        __LINE__);
            }
            impl.minPort = static_cast<uint16_t>(p.minPort);
            impl.maxPort = static_cast<uint16_t>(p.maxPort);
        }
        impl.fatalErrorLog = impl.homeDirectory;
        if (!impl.fatalErrorLog.empty() && impl.fatalErrorLog.back() != '\\') {
            impl.fatalErrorLog += '\\';
        }
        impl.fatalErrorLog += "FatalError.log";
        impl.SetPanic(panic);
        if (panic != nullptr) {
            panic->AddRef(panic);
        }

        // Computed now so that the first line pays nothing for them.
        SystemTraceEnvironment();
        uint32_t cookie;
        do {
            cookie = Platform::RandomNumber();
        } while (cookie == 0);
        impl.cookie = cookie;
        impl.pendingMode.store(impl.readingMode);
        impl.pipeName = "logging-control-" + std::to_string(Platform::CurrentProcessId());
        impl.shuttingDown.store(false);
    }
    // The commands run outside the lock: they are ordinary operations.
    if (const CommandHook hook = g_commandHook.load()) {
        hook(*this, "LOGGING_INIT_CMD");
        if (impl.pendingMode.load() == 0) {
            hook(*this, "LOGGING_POST_INIT_CMD");
        }
    }
    WorkerSettings worker;
    {
        Impl::Lock lock(impl, kShared);
        worker.controlPipe = impl.controlPipe;
        worker.listener = impl.listener;
        worker.listenerAcceptsAll = impl.listenerAcceptsAll;
        worker.minPort = impl.minPort;
        worker.maxPort = impl.maxPort;
        worker.pipeName = impl.pipeName;
    }
    // Winsock is started with the worker: its wake-up socket needs it whenever it runs.
    if (worker.controlPipe || worker.listener) {
        StartControlWorker(worker);
    }
    return impl.cookie;
}

bool LoggingManager::Release(uint32_t cookie) {
    Impl& impl = *impl_;
    {
        Impl::Lock lock(impl, kExclusive);
        if (!lock.Held() || cookie == 0 || cookie != impl.cookie) {
            return false;
        }
        impl.shuttingDown.store(true);
        impl.cookie = 0;
    }
    // Outside the lock: what is stopped here (the worker thread, the network, the background
    // compressor) may still take it on its way out.
    StopControlWorker();
    for (size_t i = 0; i < g_releaseHookCount; ++i) {
        g_releaseHooks[i]();
    }
    Impl::Lock lock(impl, kExclusive);
    impl.SetPanic(nullptr);
    impl.pendingMode.store(0);
    impl.shuttingDown.store(false);
    return true;
}

bool LoggingManager::IsInitialized() const {
    Impl::Lock lock(*impl_, kShared);
    return impl_->cookie != 0;
}

std::string DefaultChannelName() {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    return impl.defaultChannel;
}

void UdpPortRange(uint16_t& minPort, uint16_t& maxPort) {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    minPort = impl.minPort;
    maxPort = impl.maxPort;
}

bool ListenerAcceptsAllChannels() {
    LoggingManager::Impl& impl = ManagerState();
    LoggingManager::Impl::Lock lock(impl, kShared);
    return impl.listenerAcceptsAll;
}

const std::string& HomeDirectory() {
    return ManagerState().homeDirectory;
}
const std::string& ConfigDirectory() {
    return ManagerState().configDirectory;
}
const std::string& ConfigName() {
    return ManagerState().configName;
}
const std::string& FatalErrorLogPath() {
    return ManagerState().fatalErrorLog;
}
const std::string& ControlPipeName() {
    return ManagerState().pipeName;
}

}  // namespace Logging
