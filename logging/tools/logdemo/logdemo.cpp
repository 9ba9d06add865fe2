// logdemo: a process with the control pipe switched on, logging one line a second to the
// console channel "demo" (its default channel) until Ctrl+C or until a file "logdemo.stop"
// appears in its current folder. Try logctl on it from a second terminal.

#include <cstdio>

#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/initialize.h"
#include "logging/log.h"
#include "logging/logging_manager.h"

namespace {

constexpr char kTraceSourceFile[] = "logging/tools/logdemo/logdemo.cpp";
constexpr wchar_t kStopFile[] = L"logdemo.stop";

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    ::SetEvent(g_stop);
    return TRUE;
}

bool StopFileExists() {
    return ::GetFileAttributesW(kStopFile) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main() {
    const Common::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_stop = stop.get();
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    Logging::InitParameters parameters{};
    parameters.controlPipe = 1;
    const Logging::Initialize logging(nullptr, nullptr, parameters);
    Logging::LoggingManager& manager = Logging::LoggingManager::Instance();
    manager.TuneChannel("demo", Logging::ConsoleConfig());
    manager.SetDefaultChannel("demo");

    const unsigned long pid = ::GetCurrentProcessId();
    std::printf(
        "logdemo pid %lu\n"
        "Its control pipe is \\\\.\\pipe\\logging-control-%lu. In a second terminal try:\n"
        "  logctl %lu list\n"
        "  logctl %lu level demo warning\n"
        "Stop with Ctrl+C, or create the file logdemo.stop in this folder.\n",
        pid, pid, pid, pid);
    std::fflush(stdout);

    for (unsigned tick = 1; !StopFileExists(); ++tick) {
        LOG_TRACE(Logging::INFORMATION, "logdemo main", "tick %u", tick);
        if (tick % 5 == 0) {
            LOG_TRACE(Logging::WARNING, "logdemo main", "tick %u is a multiple of five", tick);
        }
        if (::WaitForSingleObject(stop.get(), 1000) == WAIT_OBJECT_0) {
            break;
        }
    }
    std::printf("logdemo stopped\n");
    return 0;
}
