#include "logging/static/backends/log_scope_backend.h"

#include <windows.h>

#include <process.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/common/handles.h"
#include "logging/common/address_wait.h"
#include "logging/common/file_io.h"
#include "logging/static/backends/log_file_property.h"
#include "logging/static/deferred_reports.h"
#include "logging/static/manager_state.h"
#include "logging/static/number_reader.h"
#include "logging/static/path_macros.h"
#include "logging/static/writers/background_compressor.h"
#include "logging/static/writers/gz_writer.h"
#include "logging/static/writers/txt_writer.h"

namespace Logging {

namespace {

constexpr uint32_t kTickMs = 100;
constexpr uint32_t kWriterFlushMs = 3000;
constexpr uint32_t kStatisticsMs = 600000;
constexpr int kDrainsPerPass = 5;
// A queue this large wakes the writer thread at once.
constexpr size_t kLargeQueue = 0x800000;
// A drained buffer larger than this is freed rather than used again: a queue that reached the
// wake-up size has grown to at most twice it.
constexpr size_t kRecycledCapacity = 2 * kLargeQueue;
constexpr size_t kQueueStep = 0x10000;
constexpr uint32_t kCompressGzip = 1;

// Every existing log-scope back-end, for the check of their prefixes. Never destroyed:
// back-ends may outlive the static objects of this file.
struct Registry {
    SrwLock lock;
    std::vector<LogScopeBackend*> backends;
};
Registry& AllBackends() {
    static Registry* const registry = new Registry;
    return *registry;
}

// Guards the writer thread object and its list; the thread holds it for a whole serving pass.
SrwLock g_writerMutex;
LogScopeWriterThread* g_writerThread = nullptr;
// Counts the wake-ups asked for; the writer thread waits for it to change.
std::atomic<uint32_t> g_wakeCounter{0};
thread_local bool t_onWriterThread = false;

void SignalWriterThread() {
    g_wakeCounter.fetch_add(1);
    WakeAllWaiting(g_wakeCounter);
}

// A batch that a writer fails on with an exception (out of memory) is lost for its back-end
// only; the writer thread goes on.
template <typename Work>
void Guarded(const Work& work) noexcept {
    try {
        work();
    } catch (...) {
    }
}

}  // namespace

// The one thread per process that empties the queues of every started log-scope back-end
// into their writers: at least every tick, at once when a back-end asks for it.
class LogScopeWriterThread {
public:
    // False when no thread could be started.
    static bool Register(LogScopeBackend& backend);
    // Ends the thread when it serves no back-end any more.
    static void Release();
    static uint32_t Id();

private:
    static unsigned __stdcall Run(void* context);
    void Serve(LogScopeBackend& backend, bool timedOut);
    // Hands the queue to the writer once; true when records were queued meanwhile.
    bool Drain(LogScopeBackend& backend);
    void FinishOff(LogScopeBackend& backend);
    static void CompleteFlushes(LogScopeBackend& backend, uint64_t request);

    std::vector<LogScopeBackend*> backends_;
    Common::UniqueHandle thread_;
    std::atomic<bool> stop_{false};
    // What a queue is exchanged with while its records are written.
    LogScopeBackend::QueueBuffer data_;
    SizeList sizes_;
};

bool LogScopeWriterThread::Register(LogScopeBackend& backend) {
    ExclusiveGuard guard(g_writerMutex);
    if (g_writerThread == nullptr) {
        auto writer = std::make_unique<LogScopeWriterThread>();
        writer->thread_.reset(
            reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &LogScopeWriterThread::Run, writer.get(), 0, nullptr)));
        if (!writer->thread_) {
            return false;
        }
        g_writerThread = writer.release();
    }
    g_writerThread->backends_.push_back(&backend);
    return true;
}

void LogScopeWriterThread::Release() {
    std::unique_ptr<LogScopeWriterThread> detached;
    {
        ExclusiveGuard guard(g_writerMutex);
        if (g_writerThread != nullptr && g_writerThread->backends_.empty()) {
            detached.reset(g_writerThread);
            g_writerThread = nullptr;
        }
    }
    if (!detached) {
        return;
    }
    detached->stop_.store(true);
    SignalWriterThread();
    ::WaitForSingleObject(detached->thread_.get(), INFINITE);
    if (!g_managerAlive.load()) {
        // The manager is ending: nothing the writer thread left to report can be delivered.
        DeferredReports::Stop();
    }
}

uint32_t LogScopeWriterThread::Id() {
    SharedGuard guard(g_writerMutex);
    return g_writerThread != nullptr ? ::GetThreadId(g_writerThread->thread_.get()) : 0;
}

unsigned __stdcall LogScopeWriterThread::Run(void* context) {
    LogScopeWriterThread& self = *static_cast<LogScopeWriterThread*>(context);
    DeferredReports::DeferOnThisThread();
    t_onWriterThread = true;
    // A wake-up asked for after `seen` was read changes the counter, so the wait after the
    // pass that follows ends at once; one asked for before is seen by that pass.
    uint32_t seen = g_wakeCounter.load();
    DWORD lastTick = ::GetTickCount();
    bool timedOut = false;
    while (!self.stop_.load()) {
        {
            ExclusiveGuard guard(g_writerMutex);
            for (size_t i = 0; i < self.backends_.size();) {
                LogScopeBackend& backend = *self.backends_[i];
                Guarded([&] { self.Serve(backend, timedOut); });
                if (backend.stopping_.load()) {
                    self.FinishOff(backend);
                    self.backends_.erase(self.backends_.begin() + static_cast<ptrdiff_t>(i));
                } else {
                    ++i;
                }
            }
        }
        const DWORD elapsed = ::GetTickCount() - lastTick;
        if (elapsed < kTickMs) {
            WaitWhileEqual(g_wakeCounter, seen, kTickMs - elapsed);
        }
        seen = g_wakeCounter.load();
        const DWORD now = ::GetTickCount();
        timedOut = now - lastTick >= kTickMs;
        if (timedOut) {
            lastTick = now;
        }
    }
    return 0;
}

void LogScopeWriterThread::Serve(LogScopeBackend& backend, bool timedOut) {
    const bool wake = backend.wake_.exchange(false);
    if (!wake && !timedOut) {
        return;
    }
    uint64_t request;
    bool hasData;
    {
        ExclusiveGuard guard(backend.queueLock_);
        request = backend.flushRequested_;
        hasData = backend.hasData_;
    }
    for (int i = 0; i < kDrainsPerPass && hasData; ++i) {
        hasData = Drain(backend);
    }
    const uint32_t now = ::GetTickCount();
    if (now < backend.lastWriterFlush_.load()) {
        backend.lastWriterFlush_.store(now);
    }
    const bool flushWanted = request != backend.flushCompleted_.load();
    if (wake || flushWanted || now - backend.lastWriterFlush_.load() >= kWriterFlushMs) {
        backend.writer_->Flush();
        backend.lastWriterFlush_.store(now);
    }
    if (flushWanted) {
        CompleteFlushes(backend, request);
    }
}

bool LogScopeWriterThread::Drain(LogScopeBackend& backend) {
    bool queuedMeanwhile;
    {
        // The back-end gets the buffers written last time, emptied, so that producers find
        // their capacity ready rather than grow a new buffer page by page.
        ExclusiveGuard guard(backend.queueLock_);
        backend.data_.Swap(data_);
        backend.sizes_.Swap(sizes_);
        backend.hasData_ = false;
    }
    if (data_.Size() != 0) {
        Guarded([&] { backend.writer_->Write(data_.Data(), sizes_); });
    }
    data_.Clear();
    sizes_.Clear();
    if (data_.Capacity() > kRecycledCapacity) {
        data_ = LogScopeBackend::QueueBuffer();
        sizes_ = SizeList();
    }
    ExclusiveGuard guard(backend.queueLock_);
    queuedMeanwhile = backend.hasData_;
    return queuedMeanwhile;
}

void LogScopeWriterThread::FinishOff(LogScopeBackend& backend) {
    bool hasData;
    {
        ExclusiveGuard guard(backend.queueLock_);
        hasData = backend.hasData_;
    }
    Guarded([&] {
        if (hasData) {
            Drain(backend);
        }
        backend.writer_->Flush();
    });
    uint64_t request;
    {
        ExclusiveGuard guard(backend.queueLock_);
        backend.registered_ = false;
        request = backend.flushRequested_;
    }
    CompleteFlushes(backend, request);
    backend.finished_.store(1);
    WakeAllWaiting(backend.finished_);
}

void LogScopeWriterThread::CompleteFlushes(LogScopeBackend& backend, uint64_t request) {
    backend.flushCompleted_.store(request);
    WakeAllWaiting(backend.flushCompleted_);
}

void LogScopeBackend::QueueBuffer::Reserve(size_t capacity) {
    std::unique_ptr<char[]> bytes(new char[capacity]);
    if (size_ != 0) {
        std::memcpy(bytes.get(), bytes_.get(), size_);
    }
    bytes_ = std::move(bytes);
    capacity_ = capacity;
}

void LogScopeBackend::QueueBuffer::Append(const char* bytes, size_t length) {
    std::memcpy(bytes_.get() + size_, bytes, length);
    size_ += length;
}

void LogScopeBackend::QueueBuffer::Swap(QueueBuffer& other) noexcept {
    bytes_.swap(other.bytes_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
}

namespace {

std::shared_ptr<Backend> MakeLogScopeBackend() {
    return std::make_shared<LogScopeBackend>(HomeDirectory());
}

// Everything queued reaches its file before Release returns; the compression of the files
// rotated meanwhile is then finished as well.
void FlushAtRelease() {
    FlushAllChannels();
    BackgroundCompressor::Stop();
}

const bool g_registered =
    (RegisterBackendFactory(BACKEND_LOGSCOPE, &MakeLogScopeBackend), RegisterReleaseHook(&FlushAtRelease), true);

}  // namespace

LogScopeBackend::LogScopeBackend(std::string homeDirectory)
    : baseHomeDir_(LogHomeDirectory(std::move(homeDirectory))),
      homeDir_(baseHomeDir_),
      lastStatistics_(::GetTickCount()) {
    if (!homeDir_.empty() && homeDir_.back() != '\\') {
        homeDir_ += '\\';
    }
    SetFixedBits(kSerialisedWrites);
    Registry& registry = AllBackends();
    ExclusiveGuard guard(registry.lock);
    registry.backends.push_back(this);
}

LogScopeBackend::~LogScopeBackend() {
    {
        Registry& registry = AllBackends();
        ExclusiveGuard guard(registry.lock);
        registry.backends.erase(std::remove(registry.backends.begin(), registry.backends.end(), this),
                                registry.backends.end());
    }
    Shutdown();
}

void LogScopeBackend::RegisterProperties(const char*, const ChannelConfig&) {
    properties_ = {
        {"folder", 1, PROPERTY_STRING, &config_.Folder, nullptr, 0},
        {"prefix", 1, PROPERTY_STRING, &config_.Prefix, nullptr, 0},
        {"extension", 1, PROPERTY_STRING, &config_.Extension, nullptr, 0},
        {"maxSize", 0, PROPERTY_DWORD, nullptr, &DwordLimitProperty, 0},
        {"maxFiles", 0, PROPERTY_DWORD, nullptr, &DwordLimitProperty, 0},
        {"number-of-logs", 0, PROPERTY_DWORD, nullptr, &DwordLimitProperty, 0},
        {"compress", 1, PROPERTY_DWORD, &config_.Compress, nullptr, 0},
        {"oneday", 1, PROPERTY_BOOL, &config_.OneDay, nullptr, 0},
        {"homeDir", 1, PROPERTY_STRING, &homeDir_, nullptr, 0},
        {"currentFile", 1, PROPERTY_STRING, nullptr, &ComputedProperty, 0},
        {"maxBuffer", 1, PROPERTY_DWORD, nullptr, &ComputedProperty, 0},
        {"numRelocations", 1, PROPERTY_DWORD, nullptr, &ComputedProperty, 0},
        {"queued", 1, PROPERTY_DWORD, nullptr, &ComputedProperty, 0},
        {"readLog", 1, PROPERTY_DWORD, nullptr, &ComputedProperty, 0},
    };
}

int32_t LogScopeBackend::DwordLimitProperty(Backend& backend, const char* name, std::string& value, bool get) {
    LogScopeBackend& self = static_cast<LogScopeBackend&>(backend);
    const bool size = std::strcmp(name, "maxSize") == 0;
    uint32_t& configured = size ? self.config_.MaxSize : self.config_.MaxFiles;
    if (get) {
        value = std::to_string(configured);
        return LOGGING_RC_NOERROR;
    }
    const std::optional<uint32_t> number = ReadNumber(value);
    if (!number) {
        return LOGGING_RC_PROPERTY_TYPE_MISMATCH;
    }
    // The writer cannot work with no room or no file at all.
    if (*number == 0) {
        return LOGGING_RC_INVALID_PARAM;
    }
    configured = *number;
    if (self.writer_) {
        // A single word the writer thread reads as it goes; the next batch sees the new value.
        (size ? self.writerConfig_.MaxSize : self.writerConfig_.MaxFiles) = *number;
    }
    return LOGGING_RC_NOERROR;
}

int32_t LogScopeBackend::ComputedProperty(Backend& backend, const char* name, std::string& value, bool get) {
    LogScopeBackend& self = static_cast<LogScopeBackend&>(backend);
    if (!get) {
        return LOGGING_RC_READ_ONLY;
    }
    if (std::strcmp(name, "currentFile") == 0) {
        value = self.writer_ ? self.writer_->GetFileName(0, true) : std::string();
        return LOGGING_RC_NOERROR;
    }
    if (std::strcmp(name, "readLog") == 0) {
        value = std::to_string(self.readLog_.load());
        return LOGGING_RC_NOERROR;
    }
    ExclusiveGuard guard(self.queueLock_);
    if (std::strcmp(name, "maxBuffer") == 0) {
        value = std::to_string(self.maxBuffer_);
    } else if (std::strcmp(name, "numRelocations") == 0) {
        value = std::to_string(self.numRelocations_);
    } else {
        value = std::to_string(std::min<size_t>(self.data_.Size(), UINT32_MAX));
    }
    return LOGGING_RC_NOERROR;
}

int32_t LogScopeBackend::GetProperty(const char* name, std::string& value) {
    uint32_t index = 0;
    if (!ParseLogFileIndex(name, index)) {
        return Backend::GetProperty(name, value);
    }
    if (!writer_) {
        return kLoggingRcNoWriter;
    }
    value = writer_->GetFileName(index, true);
    return LOGGING_RC_NOERROR;
}

int32_t LogScopeBackend::ReadLog(uint32_t lines, std::string& out, uint32_t index) {
    if (!writer_) {
        return kLoggingRcNoWriter;
    }
    readLog_.fetch_add(1);
    return writer_->ReadLog(lines, out, index);
}

void LogScopeBackend::Shutdown() {
    {
        ExclusiveGuard guard(queueLock_);
        accepting_ = false;
    }
    stopping_.store(true);
    wake_.store(true);
    SignalWriterThread();
    for (uint32_t finished; (finished = finished_.load()) == 0;) {
        WaitWhileEqual(finished_, finished, kWaitForever);
    }
    LogScopeWriterThread::Release();
    writer_.reset();
    ExclusiveGuard guard(queueLock_);
    data_.Clear();
    sizes_.Clear();
    hasData_ = false;
}

void LogScopeBackend::Close() {
    Shutdown();
}

int32_t LogScopeBackend::Open(const char* channel) {
    // Stopped first whatever the new settings: the running writer reads its limits as it goes.
    Shutdown();
    if (config_.MaxFiles == 0) {
        return LOGGING_RC_INVALID_PARAM;
    }
    stopping_.store(false);
    displayName_ = channel != nullptr ? channel : "";
    homeDir_ = config_.Folder.empty() ? baseHomeDir_ : config_.Folder;
    if (!homeDir_.empty() && homeDir_.back() != '\\') {
        homeDir_ += '\\';
    }
    if (config_.Prefix.empty()) {
        config_.Prefix = displayName_;
    }
    bool shared = false;
    {
        Registry& registry = AllBackends();
        SharedGuard guard(registry.lock);
        for (const LogScopeBackend* other : registry.backends) {
            shared = shared || (other != this && other->config_.Prefix == config_.Prefix);
        }
    }
    if (shared) {
        char own[32];
        std::snprintf(own, sizeof own, "%p", static_cast<void*>(this));
        TraceFromBackend(INFORMATION, "!!! Two LogScope backends with the same prefix. Using autogenerated prefix: %p",
                         static_cast<void*>(this));
        config_.Prefix = own;
    }
    if (!config_.Enabled) {
        return LOGGING_RC_NOERROR;
    }
    if (config_.MaxSize == 0) {
        return LOGGING_RC_INVALID_PARAM;
    }
    writerConfig_.Assign(config_);
    if (config_.Compress == kCompressGzip) {
        writer_ = std::make_unique<GzWriter>(homeDir_, writerConfig_, *this);
    } else {
        writer_ = std::make_unique<TxtWriter>(homeDir_, writerConfig_, *this);
    }
    {
        // The writer may queue text while it opens (the gzip writer's recovered records).
        ExclusiveGuard guard(queueLock_);
        accepting_ = true;
    }
    const uint32_t rc = writer_->Open();
    if (rc == 0) {
        finished_.store(0);
        lastWriterFlush_.store(::GetTickCount());
        lastStatistics_ = ::GetTickCount();
        if (LogScopeWriterThread::Register(*this)) {
            ExclusiveGuard guard(queueLock_);
            registered_ = true;
            return LOGGING_RC_NOERROR;
        }
        finished_.store(1);
    }
    Shutdown();
    return rc != 0 ? static_cast<int32_t>(rc) : LOGGING_RC_INTERNAL;
}

void LogScopeBackend::Enqueue(const std::string_view* pieces, size_t count, size_t length) {
    size_t queued;
    {
        ExclusiveGuard guard(queueLock_);
        if (!accepting_) {
            return;
        }
        const size_t old = data_.Size();
        queued = old + length;
        if (data_.Capacity() < queued) {
            // Doubling keeps the copies of a growing queue linear in what it holds.
            data_.Reserve(std::max(((queued / kQueueStep) + 1) * kQueueStep, 2 * data_.Capacity()));
            if (old != 0) {
                ++numRelocations_;
            }
        }
        sizes_.Push(length);
        for (size_t i = 0; i < count; ++i) {
            data_.Append(pieces[i].data(), pieces[i].size());
        }
        maxBuffer_ = static_cast<uint32_t>(std::max<size_t>(maxBuffer_, std::min<size_t>(queued, UINT32_MAX)));
        hasData_ = true;
    }
    if (queued >= kLargeQueue && !wake_.exchange(true)) {
        SignalWriterThread();
    }
}

void LogScopeBackend::Write(TraceRecord& record) {
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(EffectiveFlags(), Prefix(), PrefixExpanded(), pieces);
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) {
        length += pieces[i].size();
    }
    if (length == 0) {
        return;
    }
    Enqueue(pieces, count, length);
    WriteStatistics();
    if (record.Level() >= CRITICAL_ERROR) {
        Flush();
    }
}

void LogScopeBackend::WriteStatistics() {
    const uint32_t now = ::GetTickCount();
    if (now < lastStatistics_) {
        lastStatistics_ = now;
        return;
    }
    if (now - lastStatistics_ < kStatisticsMs) {
        return;
    }
    size_t queued;
    uint32_t maxBuffer;
    uint32_t relocations;
    {
        ExclusiveGuard guard(queueLock_);
        queued = data_.Size();
        maxBuffer = maxBuffer_;
        relocations = numRelocations_;
    }
    TraceFromBackend(INFORMATION, "LogScope(%s): queueSize=%u maxQueueSize=%u reallocations=%u", displayName_.c_str(),
                     static_cast<unsigned>(std::min<size_t>(queued, UINT32_MAX)), maxBuffer, relocations);
    lastStatistics_ = now;
}

void LogScopeBackend::Flush() {
    // The writer thread would wait for itself.
    if (!config_.Enabled || t_onWriterThread) {
        return;
    }
    uint64_t request;
    {
        ExclusiveGuard guard(queueLock_);
        if (!registered_) {
            return;
        }
        request = ++flushRequested_;
    }
    wake_.store(true);
    SignalWriterThread();
    for (uint64_t done; (done = flushCompleted_.load()) < request;) {
        WaitWhileEqual(flushCompleted_, done, kWaitForever);
    }
}

uint32_t LogScopeBackend::WriterThreadId() {
    return LogScopeWriterThread::Id();
}

void LogScopeBackend::NotifyRotation() {
    Notify(0, 0, 0);
}

void LogScopeBackend::QueueText(const std::string& text) {
    if (!text.empty()) {
        const std::string_view piece(text);
        Enqueue(&piece, 1, piece.size());
    }
}

void LogScopeBackend::QueueDebugLine(const char* format, ...) {
    if ((EffectiveFlags() & OF_DEBUG) == 0 || format == nullptr) {
        return;
    }
    TraceRecord record;
    va_list args;
    va_start(args, format);
    record.SetFormatted(displayName_.c_str(), DEBUG_TRACE, TraceLocation{"logging/static/log_scope_backend", "", 0},
                        format, args);
    va_end(args);
    std::string_view pieces[5];
    const size_t count = record.FullLinePieces(0, Prefix(), PrefixExpanded(), pieces);
    size_t length = 0;
    for (size_t i = 0; i < count; ++i) {
        length += pieces[i].size();
    }
    if (length != 0) {
        Enqueue(pieces, count, length);
    }
}

}  // namespace Logging
