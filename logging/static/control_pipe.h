#pragma once

// The messages of the control pipe: the 8 bytes "Log-mcsg", a 32-bit little-endian length and
// that many bytes of text, both ways; "Nop--Nop" in place of the marker ends an exchange
// without a command. One request and one reply per connection.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace Logging {

class Pipe;

// Every read and write of an exchange gets this long.
constexpr uint32_t kControlPipeTimeoutMs = 3000;
// A request holds fewer bytes than this.
constexpr uint32_t kMaxControlRequest = 256;

constexpr char kControlMessageMark[] = "Log-mcsg";
constexpr char kControlNopMark[] = "Nop--Nop";

// Marker, length and text; with `withNul` the length counts a terminating NUL, which is sent.
std::string FrameControlMessage(std::string_view text, bool withNul);

// Serves the client connected to `pipe`: reads one request, runs it with `run` and writes the
// reply, then waits (within the time-out) for the client to close its end, so that the reply
// is not thrown away by the disconnection. A client that sends anything else, too much or too
// slowly is left without a reply. The caller disconnects afterwards.
void ServeControlClient(Pipe& pipe, const std::function<std::string(std::string_view)>& run);

}  // namespace Logging
