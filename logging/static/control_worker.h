#pragma once

// The library's worker thread: it serves the control pipe and the network listener, and wakes
// up on datagrams to its own UDP socket ("exit" ends it, "fatal" has it deliver a pending fatal
// record). It runs
// between Initialize and Release when the host switches the control pipe or the network
// listener on.

#include <cstdint>
#include <string>

namespace Logging {

class TraceRecord;

struct WorkerSettings {
    bool controlPipe = false;
    bool listener = false;
    // The listener re-emits every channel, not only "logging-trace".
    bool listenerAcceptsAll = false;
    uint16_t minPort = 0;
    uint16_t maxPort = 0;
    std::string pipeName;
};

// Binds the wake-up socket to a port of the range, starts the worker and waits until it is
// ready. False, with the reason traced, when the socket or the thread cannot be had.
bool StartControlWorker(const WorkerSettings& settings);

// Wakes the worker, waits for it to end, then closes the pipe and the sockets. Nothing
// happens when no worker runs.
void StopControlWorker();

// True while a worker runs.
bool ControlWorkerRunning();
// The port of the wake-up socket (0 without a worker).
uint16_t ControlWorkerPort();
// The port of the network listener (0 without one).
uint16_t ControlWorkerListenerPort();

}  // namespace Logging
