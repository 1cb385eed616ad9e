// The system's requests to end the program (SIGTERM, SIGHUP, SIGINT) as
// something the event loop can wait for. The signal handler does nothing
// but note the request and write one byte to a pipe; the event loop watches
// the pipe's read end and takes the quit item's road (RuntimeQuitAction), so
// the close handlers run and save what they keep. A script run in progress
// watches the same descriptor and ends its script at once. Platform code
// only.
#pragma once

namespace platform::detail {

// Catches the three signals from now on; RuntimeInit calls it before the
// backend comes up, so a request during start-up waits in the pipe. A
// signal the process was started with ignored (nohup, a background job of
// a shell) stays ignored, as that caller asked. Calling it again changes
// nothing.
void InstallQuitSignals();

// The pipe's read end: readable from the first request on, until the event
// loop takes it with TakeQuitSignal. -1 before InstallQuitSignals (poll
// skips a negative descriptor).
int QuitSignalFd();

// Whether a request has arrived since start-up; it stays true. Nothing new
// (no host script) is started once it is.
bool QuitSignalArrived();

// The event loop's side: empties the pipe and is true exactly once, for the
// first request; later requests change nothing.
bool TakeQuitSignal();

// Test support: the dispositions found at InstallQuitSignals put back, and
// no request noted.
void ResetQuitSignalsForTesting();

}  // namespace platform::detail
