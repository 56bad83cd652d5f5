#pragma once
// SIGTERM, SIGINT and SIGHUP end the program through its normal path (timer stopped, icon removed,
// watch list saved), as Exit does.
#include "framework/backend.h"

void InstallStopSignals(framework::IBackend& backend);
// True once a stop signal arrived; a window that starts later ends at once.
bool StopRequested();
