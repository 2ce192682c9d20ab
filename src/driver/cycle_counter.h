// The run summary's cycle count: the processor's time-stamp counter on
// x86-64, elsewhere the ticks of a monotonic clock.
#pragma once

#include <cstdint>

namespace trimbit {

// One reading of the counter; only differences between readings mean anything.
uint64_t ReadCycleCounter();

}  // namespace trimbit
