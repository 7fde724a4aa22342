// The tuner command: programs the tuner behind the demodulator to a frequency and bandwidth.
#pragma once

#include "bus/board_bus.h"
#include "debug_log/debug_log.h"
#include "outcome/outcome.h"

namespace demodctl {

// What tuner_set is asked for, parsed by the front end from its own arguments: the tuner's
// device (its channel on the register server and its address), the tuner type (0: type 0 driver,
// 1: RDA5815, other: none), frequency and bandwidth in MHz.
struct TuneRequest {
  I2cDevice tuner;
  int32_t type = 0;
  int32_t freq_mhz = 0;
  int32_t bw_mhz = 0;
};

// On the open connection: the run's debug log gets its first lines, the tuner's channel its
// speed (on the register server), then the identity check, and with the chip present the
// driver's start-up and setting.
Outcome tuner_set(BoardBus& bus, const TuneRequest& request, DebugLog& log);

}  // namespace demodctl
