#include "driver/run.h"
#include "support/signal_cleanup.h"

int main(int argc, char** argv) {
  trimbit::InstallSignalCleanup();
  return trimbit::RunTrimbit(argc, argv);
}
