#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through its normal path (timer stopped, icon removed,
// watch list saved), as Exit does. A closed standard output (SIGPIPE) ends nothing.
#include "framework/backend.h"

// Wakes the backend's running loop from a signal handler: must be async-signal-safe.
using AsyncTrigger = bool (*)(int slot);

// The headless backend is woken by itself; another backend passes the slot it registered
// PostStopToMainWindow under and its trigger.
void InstallStopSignals(framework::IBackend& backend, int slot = -1, AsyncTrigger trigger = nullptr);
// Runs on the loop's thread once a stop signal woke it.
void PostStopToMainWindow();
// True once a stop signal arrived; a window that starts later ends at once.
bool StopRequested();
