#include "app/check/Signals.h"

#include <csignal>

namespace dsc::check {

namespace {

// The run a signal ends: its stop request writes the literal as the report's
// last line; the exit status is 128 + the signal's number, as a shell reports it.
CheckerSession* gSession = nullptr;
volatile sig_atomic_t gSignal = 0;

const char* InterruptLine(int sig) {
  switch (sig) {
    case SIGINT:
      return "Run interrupted (SIGINT)";
    case SIGTERM:
      return "Run interrupted (SIGTERM)";
    default:
      return "Run interrupted (SIGHUP)";
  }
}

extern "C" void OnSignal(int sig) {
  gSignal = sig;
  if (gSession) gSession->stop.Request(InterruptLine(sig));
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  // A second signal ends the program at once, for a server that hangs a
  // synchronous access longer than the operator wants to wait.
  sa.sa_flags = SA_RESETHAND;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

}  // namespace

const char* InterruptLineOf(int sig) { return InterruptLine(sig); }

void ListenForSignals(CheckerSession& session) {
  gSession = &session;
  InstallSignalHandlers();
}

void StopListening() { gSession = nullptr; }

int SignalReceived() { return gSignal; }

}  // namespace dsc::check
