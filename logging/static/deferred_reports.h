#pragma once

// The error reports of the log-scope writer thread. Other threads wait for that thread while
// they hold the manager's lock or a back-end's lock, so it must never wait for those locks
// itself: its reports are queued here and handed on by a thread of their own, which takes
// the manager's lock only when it is free.

namespace Logging {
namespace DeferredReports {

// From now on the current thread's error reports are queued here.
void DeferOnThisThread();

// Ends the thread that hands the reports on, dropping what is still queued; for the end of
// the manager, after which no report can be delivered.
void Stop();

}  // namespace DeferredReports
}  // namespace Logging
