#include "support/signal_cleanup.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "support/error.h"

namespace trimbit {
namespace {

// What the handler can reach. A slot's folder and name are written only
// inside a section, before `armed` is set; the handler reads them only once
// no section is open, so the sections' counter orders every access.
struct SignalCleanupSlot {
  std::atomic<int> armed;   // 1 while the file below exists and is this run's
  int folder;               // descriptor of the folder holding it
  char name[NAME_MAX + 1];  // its name in that folder
};
SignalCleanupSlot slots[kCleanupSlots];

std::atomic<int> openSections{0};  // SignalsHeld sections in progress, on any thread
std::atomic<int> ending{0};        // the handler has begun
static_assert(std::atomic<int>::is_always_lock_free, "the handler needs lock-free atomics");

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

void SignalSet(sigset_t* set) {
  sigemptyset(set);
  for (const int signalNumber : kSignals) sigaddset(set, signalNumber);
}

extern "C" void EndRunOnSignal(int signalNumber) {
  ending.store(1);
  // Another thread's section is a system call or two away from its end.
  while (openSections.load() != 0) {
  }
  for (SignalCleanupSlot& slot : slots)
    if (slot.armed.load()) ::unlinkat(slot.folder, slot.name, 0);
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
  // Held on this thread first: the handler never waits for its own thread.
  ::pthread_sigmask(SIG_BLOCK, &held, &previous_);
  openSections.fetch_add(1);
  if (ending.load() != 0) {
    openSections.fetch_sub(1);
    for (;;) ::pause();  // the handler ends the process
  }
}

SignalsHeld::~SignalsHeld() {
  openSections.fetch_sub(1);
  ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void ArmSignalCleanup(int slot, int folder, const char* name) {
  if (slot < 0 || slot >= kCleanupSlots) Fault("ArmSignalCleanup(): No such slot!?!?!?");
  SignalCleanupSlot& s = slots[slot];
  const size_t length = std::strlen(name);
  if (length >= sizeof s.name) return;  // no such file can exist
  std::memcpy(s.name, name, length + 1);
  s.folder = folder;
  s.armed.store(1);
}

void DisarmSignalCleanup(int slot) {
  if (slot < 0 || slot >= kCleanupSlots) Fault("DisarmSignalCleanup(): No such slot!?!?!?");
  SignalCleanupSlot& s = slots[slot];
  s.armed.store(0);
  s.folder = -1;
  s.name[0] = '\0';
}

}  // namespace trimbit
