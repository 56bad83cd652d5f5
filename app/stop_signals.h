#pragma once
// The system's requests to end (SIGTERM, SIGINT and SIGHUP on Linux; Ctrl+C, Ctrl+Break and the
// console closing on Windows) end the program through its normal path (timer stopped, icon removed,
// watch list saved), as Exit does.
#include "framework/backend.h"

// While it lives, a stop request wakes the backend's running loop, which posts the stop to the main
// window. One at a time; it must go before the backend does, since a request may come at any moment.
class StopRequestListener {
 public:
  explicit StopRequestListener(framework::IBackend& backend);
  ~StopRequestListener();
  StopRequestListener(const StopRequestListener&) = delete;
  StopRequestListener& operator=(const StopRequestListener&) = delete;
};

// Runs on the loop's thread once a stop request woke it.
void PostStopToMainWindow();
// True once a stop request arrived; a window that starts later ends at once.
bool StopRequested();
