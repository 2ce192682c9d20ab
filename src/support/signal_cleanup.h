// What a signal that ends the run must undo. SIGINT, SIGTERM, SIGHUP and
// SIGPIPE remove every temporary file that exists, and end the process with
// status 128 + the signal's number; the original files are never touched.
//
// A signal handler may only make async-signal-safe calls, so everything it
// needs is prepared beforehand in static slots, one per temporary file that
// may exist at once: the descriptor of the file's folder and its name there.
// A slot is armed only while that file exists and is this run's own.
// Creating, renaming and removing a file happen inside a SignalsHeld section:
// the signals are held back on that thread, and the handler, on whichever
// thread it runs, waits for every open section to end and lets no new one
// begin, so it only ever sees slots that tell the truth.
#pragma once

#include <signal.h>

namespace trimbit {

// Slot 0 serves a run of one file after another; a parallel run gives each
// file in flight its own.
constexpr int kCleanupSlots = 264;

// Installs the handler for the four signals (the program's entry does this
// once; a library caller need not).
void InstallSignalCleanup();

// Holds the four signals back on this thread while it lives and keeps the
// handler from acting meanwhile; restores the previous mask. Once the
// handler has begun, a new section never begins: its thread waits for the
// end of the process.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Prepares slot `slot`: the file `name` in the folder open as `folder`.
// Call inside a SignalsHeld section, after the file was created.
void ArmSignalCleanup(int slot, int folder, const char* name);

// Empties the slot; the handler then removes nothing for it. Call inside a
// SignalsHeld section, once the file was renamed or removed (or is no
// longer this run's).
void DisarmSignalCleanup(int slot);

}  // namespace trimbit
