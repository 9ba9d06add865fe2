// Logs its arguments to a console channel, for tests that look at the bytes of the child's
// standard streams.
//   logging_console_child <flags in hex> <item>...
// An item is "print:<text>" (printed through the C runtime) or "<level>:<text>" (logged);
// "{esc}" in a text stands for the ESC character.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "logging/channel_config.h"
#include "logging/logging_manager.h"

int main(int argc, char* argv[]) {
    if (argc < 2) {
        return 2;
    }
    Logging::ConsoleConfig config;
    config.Level = Logging::DEBUG_TRACE;
    config.Flags = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 16));
    if (Logging::LoggingManager::Instance().TuneChannel("con", config) != 0) {
        return 3;
    }
    for (int i = 2; i < argc; ++i) {
        std::string item = argv[i];
        for (size_t pos; (pos = item.find("{esc}")) != std::string::npos;) {
            item.replace(pos, 5, "\x1b");
        }
        const size_t colon = item.find(':');
        if (colon == std::string::npos) {
            return 4;
        }
        const std::string head = item.substr(0, colon);
        const std::string text = item.substr(colon + 1);
        if (head == "print") {
            std::printf("%s\n", text.c_str());
        } else {
            Logging::Log(Logging::TraceLocation{"tests/console_child", "main", __LINE__}, std::atoi(head.c_str()),
                         "con", "%s", text.c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}
