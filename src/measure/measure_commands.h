// The signal measurement commands: strength, C/N, bit error rate, lock time, carrier and
// symbol-rate offsets. Each takes its reading (measure/measurements.h) on the open connection
// the front end hands it and returns it as its outcome.
#pragma once

#include "bus/transport.h"
#include "debug_log/debug_log.h"
#include "outcome/outcome.h"

namespace demodctl {

Outcome sig_str(Transport& bus);
Outcome cn_read(Transport& bus);
Outcome ber_calc(Transport& bus);
Outcome lock_time(Transport& bus);
Outcome carrier_err(Transport& bus);
// Appends its working to the run's debug log once the chip is locked (`verbose`: a log that
// cannot be opened says why).
Outcome symbol_err(Transport& bus, DebugLog& log, bool verbose);

}  // namespace demodctl
