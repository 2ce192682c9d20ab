// What a signal that ends the run must undo. SIGINT, SIGTERM, SIGHUP and
// SIGPIPE remove the temporary file, if one exists, and end the process with
// status 128 + the signal's number; the original file is never touched.
//
// A signal handler may only make async-signal-safe calls, so everything it
// needs is prepared beforehand in one static slot: the descriptor of the
// temporary file's folder and its name there. The slot is armed only while
// that file exists and is this run's own. Creating, renaming and removing
// the file happen while the signals are held back (SignalsHeld), so a signal
// is delivered only once the slot tells the truth again.
#pragma once

#include <signal.h>

namespace trimbit {

// Installs the handler for the four signals (the program's entry does this
// once; a library caller need not).
void InstallSignalCleanup();

// Holds the four signals back while it lives; restores the previous mask.
class SignalsHeld {
 public:
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Prepares the slot: the file `name` in the folder open as `folder`. Call
// with the signals held, after the file was created.
void ArmSignalCleanup(int folder, const char* name);

// Empties the slot; the handler then removes nothing. Call with the signals
// held, once the file was renamed or removed (or is no longer this run's).
void DisarmSignalCleanup();

}  // namespace trimbit
