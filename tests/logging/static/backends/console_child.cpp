// logging_console_child <flags in hex> <item>...: logs each "<level>:<text>" item to a console
// channel and prints each "print:<text>" item through the C runtime; "{esc}" stands for ESC.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "logging/channel_config.h"
#include "logging/logging_manager.h"

int main(int argc, char* argv[]) {
    Logging::ConsoleConfig config;
    config.Level = Logging::DEBUG_TRACE;
    config.Flags = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 16)) : 0;
    if (argc < 2 || Logging::LoggingManager::Instance().TuneChannel("con", config) != 0) {
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        std::string item = argv[i];
        for (size_t pos; (pos = item.find("{esc}")) != std::string::npos;) {
            item.replace(pos, 5, "\x1b");
        }
        const std::string text = item.substr(item.find(':') + 1);
        if (item.rfind("print:", 0) == 0) {
            std::printf("%s\n", text.c_str());
        } else {
            Logging::Log(Logging::TraceLocation{"tests/console_child", "main", __LINE__}, std::atoi(item.c_str()),
                         "con", "%s", text.c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}
