// logctl <pid> <command words...>: sends one command to the control pipe of process <pid>
// and prints the reply. Exit code 0 for data or "ok", 1 for an "Error: ..." reply (or a
// command too long to send), 2 when the pipe cannot be reached or the exchange breaks off.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "core/common/handles.h"
#include "logging/common/win_pipe.h"
#include "logging/static/control_pipe.h"
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

}  // namespace

int main(int argc, char* argv[]) {
    const std::optional<uint32_t> pid = argc >= 3 ? Logging::ReadNumber(argv[1]) : std::nullopt;
    if (!pid) {
        std::cerr << "usage: logctl <pid> <command words...>\n"
                     "  for example: logctl 1234 list\n"
                     "               logctl 1234 level <default> warning"
                  << std::endl;
        return kUnreachable;
    }
    std::string command;
    for (int i = 2; i < argc; ++i) {
        command += i > 2 ? " " : "";
        command += argv[i];
    }
    if (command.size() >= Logging::kMaxControlRequest) {
        std::cerr << "logctl: the command is " << command.size() << " bytes long; the control pipe takes at most "
                  << Logging::kMaxControlRequest - 1 << std::endl;
        return kReplyError;
    }
    const std::string pipeName = "logging-control-" + std::to_string(*pid);
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
    std::string reply;
    if (!ReadReply(*pipe, reply)) {
        const DWORD code = ::GetLastError();
        return Unreachable("no reply from", pipeName, code != ERROR_SUCCESS ? code : ERROR_BROKEN_PIPE);
    }
    std::cout << reply << std::endl;
    return reply.rfind("Error: ", 0) == 0 ? kReplyError : kReplyOk;
}
