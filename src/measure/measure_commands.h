// The signal measurement commands: strength, C/N, bit error rate, lock time, carrier and
// symbol-rate offsets. Each takes the run's transport (not yet open), opens it, takes its reading
// (measure/measurements.h), prints it as one result line, closes, and returns the exit status.
#pragma once

#include <cstdint>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

int32_t sig_str(Transport& bus, CommandArgs args);
int32_t cn_read(Transport& bus, CommandArgs args);
int32_t ber_calc(Transport& bus, CommandArgs args);
int32_t lock_time(Transport& bus, CommandArgs args);
int32_t carrier_err(Transport& bus, CommandArgs args);
int32_t symbol_err(Transport& bus, CommandArgs args);

}  // namespace demodctl
