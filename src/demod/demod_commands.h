// The demodulator status and control commands: link probes, initialisation, hot reset, mode
// report. Each takes the run's transport (not yet open) and returns the exit status.
#pragma once

#include <cstdint>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

int32_t on_line(Transport& bus, CommandArgs args);
int32_t agc_ok(Transport& bus, CommandArgs args);
int32_t cbs_ok(Transport& bus, CommandArgs args);
int32_t tr_ok(Transport& bus, CommandArgs args);
int32_t sync_ok(Transport& bus, CommandArgs args);
int32_t cr_ok(Transport& bus, CommandArgs args);
int32_t fec_ok(Transport& bus, CommandArgs args);

int32_t chip_init(Transport& bus, CommandArgs args);
int32_t hot_rst(Transport& bus, CommandArgs args);
int32_t dvb_standard(Transport& bus, CommandArgs args);

}  // namespace demodctl
