#include "driver/run.h"
#include "support/signal_cleanup.h"

int main(int argc, char** argv) {
  InstallSignalCleanup();
  return RunTrimbit(argc, argv);
}
