// The signal measurement commands: strength, C/N, bit error rate, lock time, carrier and
// symbol-rate offsets. Each takes its reading (measure/measurements.h) on the open connection
// the front end hands it and returns it as its outcome.
#pragma once

#include "bus/transport.h"
#include "output/outcome.h"

namespace demodctl {

Outcome sig_str(Transport& bus, const Invocation& command);
Outcome cn_read(Transport& bus, const Invocation& command);
Outcome ber_calc(Transport& bus, const Invocation& command);
Outcome lock_time(Transport& bus, const Invocation& command);
Outcome carrier_err(Transport& bus, const Invocation& command);
Outcome symbol_err(Transport& bus, const Invocation& command);

}  // namespace demodctl
