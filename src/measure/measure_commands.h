// The signal measurement commands: strength, C/N, bit error rate, lock time, carrier and
// symbol-rate offsets. Each takes its reading (measure/measurements.h) on the open connection
// the front end hands it and returns it as its outcome.
#pragma once

#include "bus/board_bus.h"
#include "debug_log/debug_log.h"
#include "outcome/outcome.h"

namespace demodctl {

Outcome sig_str(BoardBus& bus);
Outcome cn_read(BoardBus& bus);
Outcome ber_calc(BoardBus& bus);
Outcome lock_time(BoardBus& bus);
Outcome carrier_err(BoardBus& bus);
// Appends its working to the run's debug log once the chip is locked (`verbose`: a log that
// cannot be opened says why).
Outcome symbol_err(BoardBus& bus, DebugLog& log, bool verbose);

}  // namespace demodctl
