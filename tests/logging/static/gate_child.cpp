// The two ends of a gate, each in a process of its own.
//
// logging_gate_child receive <port file> <ready event> <records>: a host with the network
// listener on for every channel, which re-emits into console channels on standard output
// ("app" at WARNING, the default channel "main" at DEBUG_TRACE with its timestamp); writes the
// listener's port to the file, signals the event and ends after <records> records (or 20 s).
//
// logging_gate_child send <port> <channel>:<level>:<text>...: a filtering gate channel "out"
// to that port, fed by the channels named ("-": the default channel, which is "out"); prints
// its thread id and how many records it sent.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/initialize.h"
#include "logging/logging_manager.h"
#include "logging/static/control_worker.h"

namespace {

using namespace Logging;

LoggingManager& M() {
    return LoggingManager::Instance();
}

uint64_t Usage(const char* name) {
    uint64_t count = 0;
    M().GetUsageCount(name, count);
    return count;
}

int Receive(const char* portFile, const char* readyEvent, int records) {
    ConsoleConfig app;
    app.Level = WARNING;
    app.Flags = OF_TID | OF_NOSTDERR | OF_NATIVE_EOL;
    ConsoleConfig main;
    main.Level = DEBUG_TRACE;
    main.Flags = OF_TIMESTAMP | OF_TZD | OF_TID | OF_NOSTDERR | OF_NATIVE_EOL;
    if (M().TuneChannel("app", app) != 0 || M().TuneChannel("main", main) != 0 || M().SetDefaultChannel("main") != 0) {
        return 2;
    }
    InitParameters parameters{};
    parameters.listener = kListenerAllChannels;
    const Initialize logging(nullptr, nullptr, parameters);
    if (ControlWorkerListenerPort() == 0) {
        return 3;
    }
    std::ofstream(portFile) << ControlWorkerListenerPort();
    Common::UniqueHandle ready(::OpenEventA(EVENT_MODIFY_STATE, FALSE, readyEvent));
    if (!ready || !::SetEvent(ready.get())) {
        return 4;
    }
    // The worker thread receives and re-emits; this one only waits for it.
    const ULONGLONG deadline = ::GetTickCount64() + 20000;
    while (Usage("app") + Usage("main") < static_cast<uint64_t>(records) && ::GetTickCount64() < deadline) {
        ::Sleep(10);
    }
    return 0;
}

int Send(int port, int count, char** items) {
    GateConfig gate;
    gate.Server = "127.0.0.1";
    gate.Port = static_cast<uint32_t>(port);
    gate.Level = DEBUG_TRACE;
    if (M().TuneChannel("out", gate) != 0 || M().SetDefaultChannel("out") != 0) {
        return 2;
    }
    for (int i = 0; i < count; ++i) {
        const std::string item = items[i];
        const size_t first = item.find(':');
        const size_t second = item.find(':', first + 1);
        const std::string channel = item.substr(0, first);
        const int level = std::atoi(item.c_str() + first + 1);
        if (channel != "-" && !M().ChannelExists(channel.c_str(), true)) {
            M().TuneChannel(channel.c_str(), NullConfig());
            M().LinkChannel("out", channel.c_str());
        }
        Log(TraceLocation{"tests/gate_child", "Send", __LINE__}, level, channel == "-" ? nullptr : channel.c_str(),
            "%s", item.c_str() + second + 1);
    }
    uint32_t serial = 0;
    M().GetDWordProperty("out", "serial", serial);
    std::printf("tid=%lu serial=%u\n", ::GetCurrentThreadId(), serial);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "receive" && argc == 5) {
        return Receive(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (mode == "send" && argc >= 3) {
        return Send(std::atoi(argv[2]), argc - 3, argv + 3);
    }
    return 1;
}
