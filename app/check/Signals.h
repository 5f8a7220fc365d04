#pragma once

#include "engine/CheckerSession.h"

namespace dsc::check {

// SIGINT, SIGTERM and SIGHUP stop session's run: the stop request writes the
// signal's line as the report's last; a second signal ends the program.
void ListenForSignals(CheckerSession& session);
void StopListening();
// The signal that arrived, 0 for none.
int SignalReceived();
// "Run interrupted (SIGTERM)": the report's line for a signal.
const char* InterruptLineOf(int sig);

}  // namespace dsc::check
