#include "support/signal_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <cstring>

namespace trimbit {
namespace {

// The one piece of state a signal handler can reach. Written only while
// the signals are held back, read only by the handler.
struct SignalCleanupSlot {
  volatile sig_atomic_t armed;  // 1 while the file below exists and is this run's
  int folder;                   // descriptor of the folder holding it
  char name[NAME_MAX + 1];      // its name in that folder
};
SignalCleanupSlot slot = {0, -1, {}};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void SignalSet(sigset_t* set) {
  sigemptyset(set);
  for (const int signalNumber : kSignals) sigaddset(set, signalNumber);
}

extern "C" void EndRunOnSignal(int signalNumber) {
  if (slot.armed) ::unlinkat(slot.folder, slot.name, 0);
  ::_exit(128 + signalNumber);
}

}  // namespace

void InstallSignalCleanup() {
  struct sigaction action = {};
  action.sa_handler = EndRunOnSignal;
  SignalSet(&action.sa_mask);  // one signal at a time
  for (const int signalNumber : kSignals) ::sigaction(signalNumber, &action, nullptr);
}

SignalsHeld::SignalsHeld() {
  sigset_t held;
  SignalSet(&held);
  ::sigprocmask(SIG_BLOCK, &held, &previous_);
}

SignalsHeld::~SignalsHeld() {
  ::sigprocmask(SIG_SETMASK, &previous_, nullptr);
}

void ArmSignalCleanup(int folder, const char* name) {
  const size_t length = std::strlen(name);
  if (length >= sizeof slot.name) return;  // no such file can exist
  std::memcpy(slot.name, name, length + 1);
  slot.folder = folder;
  slot.armed = 1;
}

void DisarmSignalCleanup() {
  slot.armed = 0;
  slot.folder = -1;
  slot.name[0] = '\0';
}

}  // namespace trimbit
