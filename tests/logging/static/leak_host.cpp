// logging_leak_host <folder\> <rounds>: creates, uses and removes a channel of every type, with
// the file-writing ones on files in <folder\>, first in 100 warm-up rounds and then <rounds> times,
// and prints the process's handle count, thread count and private bytes after each:
//   "warm: handles %lu threads %zu private %zu handle-slots %zu committed-private %zu"
//   "done: <the same> rounds %d ms %lu"

#include <windows.h>
// After windows.h.
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "support/thread_count.h"

namespace {

using namespace Logging;

constexpr int kWarmUpRounds = 100;

class CountingTracer : public Tracer {
public:
    void Trace(const char*, int32_t, uint16_t, uint16_t, const wchar_t*) override { ++count; }
    void TraceData(const char*, int32_t, uint16_t, uint16_t, const wchar_t*, const void*, uint32_t) override {
        ++count;
    }
    void TraceError(const char*, int32_t, const Common::Error&) override { ++count; }
    size_t count = 0;
};

// One configuration of each kind; made anew every round, as a host reconfiguring would.
std::vector<std::unique_ptr<ChannelConfig>> Configurations(const std::string& folder) {
    std::vector<std::unique_ptr<ChannelConfig>> configs;
    configs.push_back(std::make_unique<ConsoleConfig>());
    configs.push_back(std::make_unique<DebuggerConfig>());
    configs.push_back(std::make_unique<NullConfig>());
    auto custom = std::make_unique<CustomConfig>();
    custom->TracerIf = TracerIfRef::Adopt(MakeTracerStub(new CountingTracer, true));
    configs.push_back(std::move(custom));
    auto file = std::make_unique<FileConfig>();
    file->File = folder + "file.log";
    file->MaxSize = 0x1000;  // rotations every few dozen rounds
    configs.push_back(std::move(file));
    for (const uint32_t compress : {0u, 1u}) {
        auto scope = std::make_unique<LogScopeConfig>();
        scope->Folder = folder;
        scope->Prefix = compress == 1 ? "scope-gz" : "scope";
        scope->Compress = compress;
        scope->MaxSize = 0x1000;
        scope->MaxFiles = 3;
        configs.push_back(std::move(scope));
    }
    auto shared = std::make_unique<SharedFileConfig>();
    shared->File = folder + "shared.log";
    shared->MaxSize = 0x1000;
    configs.push_back(std::move(shared));
    auto fileFolder = std::make_unique<FileFolderConfig>();
    fileFolder->Folder = folder + "folder";
    fileFolder->File = "ff-one.log";
    fileFolder->Prefix = "ff-";
    fileFolder->Extension = "log";
    fileFolder->MaxFiles = 3;
    configs.push_back(std::move(fileFolder));
    auto gate = std::make_unique<GateConfig>();
    gate->Server = "127.0.0.1";
    gate->Port = 9;        // discard: nobody needs to listen for a datagram to be sent
    gate->Filter = false;  // else the first record waits for a reply that no one sends
    configs.push_back(std::move(gate));
    return configs;
}

// All channels exist together, as in a host that configures its logging and tears it down
// again: the two log-scope channels share the one writer thread then.
bool Round(const std::string& folder, int round) {
    LoggingManager& manager = LoggingManager::Instance();
    const std::vector<std::unique_ptr<ChannelConfig>> configs = Configurations(folder);
    const auto name = [](size_t index) { return "leak-" + std::to_string(index); };
    for (size_t i = 0; i < configs.size(); ++i) {
        if (manager.CreateChannel(name(i).c_str(), *configs[i]) != 0) {
            std::fprintf(stderr, "round %d: %s not created\n", round, name(i).c_str());
            return false;
        }
    }
    for (size_t i = 0; i < configs.size(); ++i) {
        // A record of level CRITICAL_ERROR also makes the log-scope channels wait for their file.
        for (const int32_t level : {INFORMATION, CRITICAL_ERROR}) {
            Log(TraceLocation{"tests/leak_host", "Round", __LINE__}, level, name(i).c_str(), "round %d of %s", round,
                name(i).c_str());
        }
    }
    for (size_t i = 0; i < configs.size(); ++i) {
        if (manager.RemoveChannel(name(i).c_str()) != 0) {
            std::fprintf(stderr, "round %d: %s not removed\n", round, name(i).c_str());
            return false;
        }
    }
    return true;
}

// The handle values that name an open handle, as Wine answers 0 to GetProcessHandleCount.
size_t HandleSlots() {
    size_t handles = 0;
    DWORD flags = 0;
    for (uintptr_t value = 4; value < 0x20000; value += 4) {
        handles += ::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) != 0;
    }
    return handles;
}

// The committed private pages, counted independently of the process's own figures.
size_t CommittedPrivateBytes() {
    size_t bytes = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (const char* at = nullptr; ::VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        bytes += region.State == MEM_COMMIT && region.Type == MEM_PRIVATE ? region.RegionSize : 0;
    }
    return bytes;
}

void PrintFigures(const char* label) {
    DWORD handles = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
    // Windows gives both the same value, the commit charge; Wine fills only the older field.
    const size_t privateBytes = memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
    std::printf("%s: handles %lu threads %zu private %zu handle-slots %zu committed-private %zu", label, handles,
                TestSupport::ThreadsOfThisProcess(), privateBytes, HandleSlots(), CommittedPrivateBytes());
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        return 2;
    }
    const std::string folder = argv[1];
    const int rounds = std::atoi(argv[2]);
    ::CreateDirectoryA((folder + "folder").c_str(), nullptr);
    // Long enough for every file to have rotated a few times: the heap settles then.
    for (int round = 0; round < kWarmUpRounds; ++round) {
        if (!Round(folder, -round)) {
            return 3;
        }
    }
    PrintFigures("\nwarm");
    std::printf("\n");
    const DWORD start = ::GetTickCount();
    for (int round = 1; round <= rounds; ++round) {
        if (!Round(folder, round)) {
            return 3;
        }
    }
    const DWORD elapsed = ::GetTickCount() - start;
    PrintFigures("\ndone");
    std::printf(" rounds %d ms %lu\n", rounds, elapsed);
    return 0;
}
