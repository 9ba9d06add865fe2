// logging_kill_child <writer> <folder\> <child>|repair <mapping>: logs numbered records at full
// speed through one writer until it is killed. <writer> is "gzip" (a log-scope channel with the
// gzip writer), "logscope" (one with the text writer) or "sharedfile". After each record known
// to be on disk it stores how many are in its slot of the named mapping (see KillSlot).
// "repair" only opens the files, which repairs them, and closes them in order.

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/logging_manager.h"
#include "logging/static/writers/crash_records.h"

namespace {

constexpr char kChannel[] = "kill";
constexpr uint32_t kMaxChild = 99;  // two digits in a record's head

// What the kill test reads back: the records alone, one per line.
std::unique_ptr<Logging::ChannelConfig> ConfigFor(const std::string& writer, const std::string& folder) {
    if (writer == "sharedfile") {
        auto config = std::make_unique<Logging::SharedFileConfig>();
        config->File = folder + "kill.log";
        config->MaxSize = 0xFFFFFFFF;  // a rotation would drop the older .bak by design
        config->Flags = 0;
        return config;
    }
    auto config = std::make_unique<Logging::LogScopeConfig>();
    config->Folder = folder;
    config->Prefix = "kill";
    config->Flags = 0;
    config->Compress = writer == "gzip" ? 1 : 0;
    // Small enough that kills land in rotations too, with room for everything written.
    config->MaxSize = writer == "gzip" ? 0x40000 : 0x100000;
    config->MaxFiles = 400;
    return config;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        return 2;
    }
    const std::string writer = argv[1];
    const std::unique_ptr<Logging::ChannelConfig> config = ConfigFor(writer, argv[2]);
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    if (std::strcmp(argv[3], "repair") == 0) {
        return manager.TuneChannel(kChannel, *config) == 0 && manager.RemoveChannel(kChannel) == 0 ? 0 : 3;
    }
    const uint32_t child = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
    const Common::UniqueHandle mapping(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, argv[4]));
    const Common::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_WRITE, 0, 0, 0) : nullptr);
    if (!view || child > kMaxChild || manager.TuneChannel(kChannel, *config) != 0) {
        return 4;
    }
    TestSupport::KillSlot& slot = static_cast<TestSupport::KillSlot*>(view.get())[child];
    slot.open = 1;

    // A shared-file record is on disk when the call returns; a log-scope channel's records once
    // a record of level CRITICAL_ERROR has returned, which waits for the writer thread.
    const uint32_t flushEvery = writer == "sharedfile" ? 1 : writer == "gzip" ? 1000 : 200;
    std::string record;
    for (uint32_t sequence = 0;; ++sequence) {
        record.clear();
        TestSupport::AppendCrashRecord(record, child, sequence);
        record.pop_back();  // the line end is the channel's
        const bool flush = (sequence + 1) % flushEvery == 0;
        Logging::Log(Logging::TraceLocation{"tests/kill_child", "main", __LINE__},
                     flush ? Logging::CRITICAL_ERROR : Logging::INFORMATION, kChannel, "%s", record.c_str());
        if (flush) {
            slot.flushed = static_cast<LONG>(sequence + 1);
        }
    }
}
