// logging_log_scope_child <folder> <mode> <count>: logs <count> numbered records to a log-scope
// channel and returns from main, as hostprobe uses the library. Modes: "release" initialises
// the library first (and so releases it on the way out), "plain" does not, "compress" is
// "release" with small files whose older ones are compressed.

#include <cstdlib>
#include <optional>
#include <string>

#include "logging/channel_config.h"
#include "logging/initialize.h"
#include "logging/logging_manager.h"

int main(int argc, char* argv[]) {
    if (argc < 4) {
        return 2;
    }
    const std::string mode = argv[2];
    const int count = std::atoi(argv[3]);
    std::optional<Logging::Initialize> init;
    if (mode != "plain") {
        init.emplace(nullptr, nullptr, Logging::InitParameters{});
    }
    Logging::LogScopeConfig config;
    config.Folder = argv[1];
    config.Prefix = "child";
    config.Flags = 0;
    config.Compress = mode == "compress" ? 2 : 0;
    config.MaxSize = mode == "compress" ? 2000 : 0xFFFFFFFF;
    config.MaxFiles = 100;
    if (Logging::LoggingManager::Instance().TuneChannel("child", config) != 0) {
        return 3;
    }
    for (int i = 0; i < count; ++i) {
        Logging::Log(Logging::TraceLocation{"tests/log_scope_child", "main", __LINE__}, Logging::INFORMATION, "child",
                     "record %06d", i);
    }
    return 0;
}
