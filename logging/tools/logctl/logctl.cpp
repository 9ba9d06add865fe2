// logctl <pid> <command words...>: sends one command to the control pipe of process <pid>
// and prints the reply. Exit code 0 for data or "ok", 1 for an "Error: ..." reply (or a
// command too long to send), 2 when the pipe cannot be reached or the exchange breaks off.
//
// logctl tail <pid> [channel] [-n <count>]: prints the records of a channel of process <pid>
// (its default channel when none is named) as they arrive, until Ctrl+C, until <count>
// records were printed, or until the process ends. It creates a gate channel in that process
// towards a loopback port of its own, links it to the channel, and deletes it again at the end.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/common/handles.h"
#include "logging/common/win_pipe.h"
#include "logging/static/control_pipe.h"
#include "logging/static/gate_tail.h"
#include "logging/static/number_reader.h"

namespace {

constexpr int kReplyOk = 0;
constexpr int kReplyError = 1;
constexpr int kUnreachable = 2;
// Long enough for the worker to finish with a client that stalls (3 s) and serve us.
constexpr DWORD kConnectWaitMs = 10000;
constexpr uint32_t kReplyWaitMs = 10000;

std::string SystemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    const Common::UniqueLocal owned(text);
    std::string message = length != 0 ? std::string(text, length) : "unknown error";
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

int Unreachable(const std::string& what, const std::string& pipe, DWORD code) {
    std::cerr << "logctl: " << what << " \\\\.\\pipe\\" << pipe << ": error " << code << ": " << SystemMessage(code)
              << std::endl;
    return kUnreachable;
}

// The reply text, or false when none arrived.
bool ReadReply(Logging::WinPipeClient& pipe, std::string& reply) {
    char head[12];
    if (pipe.Read(head, sizeof head, kReplyWaitMs) != sizeof head ||
        std::string(head, 8) != Logging::kControlMessageMark) {
        return false;
    }
    const uint32_t length = static_cast<uint8_t>(head[8]) | static_cast<uint32_t>(static_cast<uint8_t>(head[9])) << 8 |
                            static_cast<uint32_t>(static_cast<uint8_t>(head[10])) << 16 |
                            static_cast<uint32_t>(static_cast<uint8_t>(head[11])) << 24;
    reply.assign(length, '\0');
    if (length != 0 && pipe.Read(&reply[0], length, kReplyWaitMs) != length) {
        return false;
    }
    const size_t end = reply.find('\0');
    if (end != std::string::npos) {
        reply.erase(end);
    }
    return true;
}

// Sends one command to process `pid` and hands back its reply; kUnreachable (with the reason
// on standard error) when there is none.
int Exchange(uint32_t pid, const std::string& command, std::string& reply) {
    if (command.size() >= Logging::kMaxControlRequest) {
        std::cerr << "logctl: the command is " << command.size() << " bytes long; the control pipe takes at most "
                  << Logging::kMaxControlRequest - 1 << std::endl;
        return kReplyError;
    }
    const std::string pipeName = "logging-control-" + std::to_string(pid);
    DWORD error = ERROR_SUCCESS;
    const std::unique_ptr<Logging::WinPipeClient> pipe =
        Logging::WinPipeClient::Connect(pipeName, kConnectWaitMs, error);
    if (!pipe) {
        return Unreachable("cannot reach the control pipe", pipeName, error);
    }
    const std::string request = Logging::FrameControlMessage(command, false);
    if (pipe->Write(request.data(), static_cast<uint32_t>(request.size()), Logging::kControlPipeTimeoutMs) !=
        request.size()) {
        return Unreachable("cannot send the command to", pipeName, ::GetLastError());
    }
    if (!ReadReply(*pipe, reply)) {
        const DWORD code = ::GetLastError();
        return Unreachable("no reply from", pipeName, code != ERROR_SUCCESS ? code : ERROR_BROKEN_PIPE);
    }
    return reply.rfind("Error: ", 0) == 0 ? kReplyError : kReplyOk;
}

// The same as Exchange, for the steps of a tail: an error reply is printed on standard error.
int TailStep(uint32_t pid, const std::string& command) {
    std::string reply;
    const int rc = Exchange(pid, command, reply);
    if (rc == kReplyError && !reply.empty()) {
        std::cerr << "logctl: " << command << ": " << reply << std::endl;
    }
    return rc;
}

// The loopback ports the tail's receiving end may take: those the logging library's own
// receivers use, so a firewall rule for them covers it too.
constexpr uint32_t kTailMinPort = 24100;
constexpr uint32_t kTailMaxPort = 24300;

HANDLE g_tailStop = nullptr;

BOOL WINAPI OnTailConsoleControl(DWORD) {
    ::SetEvent(g_tailStop);
    return TRUE;
}

int Tail(uint32_t pid, const std::string& channel, uint64_t count) {
    Logging::GateTail tail;
    if (!tail.Open(kTailMinPort, kTailMaxPort)) {
        std::cerr << "logctl: no loopback UDP port of " << kTailMinPort << "-" << kTailMaxPort - 1 << " is free"
                  << std::endl;
        return kUnreachable;
    }
    // A handle to notice the process's end; without one (no access) only Ctrl+C or the count
    // end the tail.
    const Common::UniqueHandle process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
    const Common::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_tailStop = stop.get();
    ::SetConsoleCtrlHandler(OnTailConsoleControl, TRUE);

    std::string viewed = channel;
    if (viewed.empty()) {
        std::string reply;
        const int rc = Exchange(pid, "default", reply);
        if (rc != kReplyOk || reply.rfind("name=", 0) != 0 || reply.size() == 5) {
            if (rc != kUnreachable) {
                std::cerr << "logctl: process " << pid << " has no default channel" << std::endl;
            }
            return rc != kUnreachable ? kReplyError : rc;
        }
        viewed = reply.substr(5);
    }
    const std::string gate = "logctl-tail-" + std::to_string(::GetCurrentProcessId());
    int rc = TailStep(pid, "tune " + gate + " gate server=127.0.0.1 port=" + std::to_string(tail.Port()));
    if (rc != kReplyOk) {
        return rc;
    }
    // The gate lets through whatever reaches it: the viewed channel's own level decides.
    rc = TailStep(pid, "level " + gate + " debug");
    if (rc == kReplyOk) {
        rc = TailStep(pid, "link " + gate + " " + viewed);
    }
    if (rc != kReplyOk) {
        TailStep(pid, "delete " + gate);
        return rc;
    }
    std::cerr << "logctl: showing the records of " << viewed << " in process " << pid << "; Ctrl+C ends" << std::endl;

    uint64_t printed = 0;
    bool processEnded = false;
    const HANDLE waits[] = {tail.Event(), stop.get(), process.get()};
    const DWORD waitCount = process ? 3 : 2;
    while (count == 0 || printed < count) {
        const DWORD woken = ::WaitForMultipleObjects(waitCount, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            tail.OnReceived([&](const std::string& line) {
                if (count == 0 || printed < count) {
                    std::fwrite(line.data(), 1, line.size(), stdout);
                    ++printed;
                }
            });
            std::fflush(stdout);
        } else {
            processEnded = woken == WAIT_OBJECT_0 + 2;
            break;
        }
    }
    ::SetConsoleCtrlHandler(OnTailConsoleControl, FALSE);
    // A process that has ended took its channels with it.
    return processEnded || TailStep(pid, "delete " + gate) == kReplyOk ? kReplyOk : kUnreachable;
}

void PrintUsage() {
    std::cerr << "usage: logctl <pid> <command words...>\n"
                 "       logctl tail <pid> [channel] [-n <count>]\n"
                 "  for example: logctl 1234 list\n"
                 "               logctl 1234 level <default> warning\n"
                 "               logctl tail 1234"
              << std::endl;
}

// logctl tail <pid> [channel] [-n <count>]
int RunTail(int argc, char* argv[]) {
    const std::optional<uint32_t> pid = argc >= 3 ? Logging::ReadNumber(argv[2]) : std::nullopt;
    std::string channel;  // empty: the default channel
    std::optional<uint32_t> count = 0;
    bool named = false;
    for (int i = 3; pid && count && i < argc; ++i) {
        if (std::string(argv[i]) == "-n") {
            count = i + 1 < argc ? Logging::ReadNumber(argv[++i]) : std::nullopt;
        } else if (!named) {
            channel = argv[i];
            named = true;
        } else {
            count = std::nullopt;
        }
    }
    if (!pid || !count) {
        PrintUsage();
        return kUnreachable;
    }
    return Tail(*pid, channel, *count);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc >= 2 && std::string(argv[1]) == "tail") {
        return RunTail(argc, argv);
    }
    const std::optional<uint32_t> pid = argc >= 3 ? Logging::ReadNumber(argv[1]) : std::nullopt;
    if (!pid) {
        PrintUsage();
        return kUnreachable;
    }
    std::string command;
    for (int i = 2; i < argc; ++i) {
        command += i > 2 ? " " : "";
        command += argv[i];
    }
    std::string reply;
    const int rc = Exchange(*pid, command, reply);
    if (rc == kReplyOk || (rc == kReplyError && !reply.empty())) {
        std::cout << reply << std::endl;
    }
    return rc;
}
