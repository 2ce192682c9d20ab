#include "driver/run_state.h"

RunSettings settings = {0, 0, 0, 0, 0, 0, 0, 1, 0};
RunTotals totals = {};
