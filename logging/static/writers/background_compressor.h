#pragma once

// The gzip compression of rotated text logs, kept off the writing thread: one process-wide
// queue of jobs, served by a thread that exists only while jobs are pending.

#include <string>

namespace Logging {
namespace BackgroundCompressor {

// Queues the compression of `file` in place, through the temporary file `temporary`; dropped
// once the queue is stopped.
void Queue(const std::string& file, const std::string& temporary);

// Returns when no job for `file` is queued or running, so that the file can be renamed.
void WaitFor(const std::string& file);

// Stops the queue: later jobs are dropped, the ones queued before are finished first.
void Stop();

}  // namespace BackgroundCompressor
}  // namespace Logging
