#pragma once
// How the system asks the program to end, whatever the edition.

namespace platform {

// From now on calls onStop whenever the system asks the program to end: SIGTERM, SIGINT and SIGHUP
// on Linux; Ctrl+C, Ctrl+Break, the console closing, log-off and shut-down of a console session on
// Windows. onStop runs in a signal handler or on a thread of the system's, so it may do only
// async-signal-safe work. On Linux a closed standard output (SIGPIPE) no longer ends the program:
// the write fails instead.
void ListenForStopRequests(void (*onStop)());

}  // namespace platform
