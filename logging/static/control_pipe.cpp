#include "logging/static/control_pipe.h"

#include <cstring>

#include "core/common/assert.h"
#include "logging/common/pipe.h"

namespace Logging {

namespace {

constexpr char kControlSource[] = "logging/static/control";
constexpr size_t kMarkSize = sizeof kControlMessageMark - 1;

void AppendLength(std::string& out, uint32_t length) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
}

}  // namespace

std::string FrameControlMessage(std::string_view text, bool withNul) {
    std::string message(kControlMessageMark, kMarkSize);
    AppendLength(message, static_cast<uint32_t>(text.size() + (withNul ? 1 : 0)));
    message.append(text);
    if (withNul) {
        message.push_back('\0');
    }
    return message;
}

void ServeControlClient(Pipe& pipe, const std::function<std::string(std::string_view)>& run) {
    char mark[kMarkSize];
    for (;;) {
        if (pipe.Read(mark, kMarkSize, kControlPipeTimeoutMs) != kMarkSize ||
            std::memcmp(mark, kControlNopMark, kMarkSize) == 0) {
            return;
        }
        if (std::memcmp(mark, kControlMessageMark, kMarkSize) == 0) {
            break;
        }
    }
    uint8_t length[4];
    if (pipe.Read(length, sizeof length, kControlPipeTimeoutMs) != sizeof length) {
        return;
    }
    const uint32_t numBytes = static_cast<uint32_t>(length[0]) | static_cast<uint32_t>(length[1]) << 8 |
                              static_cast<uint32_t>(length[2]) << 16 | static_cast<uint32_t>(length[3]) << 24;
    char command[kMaxControlRequest];
    if (numBytes >= sizeof command) {
        Common::ReportAssertion("numBytes < sizeof(command)", kControlSource, 145);
        return;
    }
    if (numBytes != 0 && pipe.Read(command, numBytes, kControlPipeTimeoutMs) != numBytes) {
        return;
    }
    command[numBytes] = '\0';
    const std::string reply = run(std::string_view(command, std::strlen(command)));

    const std::string message = FrameControlMessage(reply, true);
    const uint32_t textSize = static_cast<uint32_t>(message.size() - kMarkSize - 4);
    if (pipe.Write(message.data(), kMarkSize, kControlPipeTimeoutMs) != kMarkSize ||
        pipe.Write(message.data() + kMarkSize, 4, kControlPipeTimeoutMs) != 4 ||
        pipe.Write(message.data() + kMarkSize + 4, textSize, kControlPipeTimeoutMs) != textSize) {
        return;
    }
    // Disconnecting drops what the client has not read yet: wait until it closes its end.
    char unused;
    pipe.Read(&unused, 1, kControlPipeTimeoutMs);
}

}  // namespace Logging
