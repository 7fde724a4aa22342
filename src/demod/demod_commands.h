// The demodulator status and control commands: link probes, initialisation, hot reset, mode
// report. Each runs on the open connection the front end hands it (after the identity check
// where its row asks for one) and returns its outcome.
#pragma once

#include "bus/board_bus.h"
#include "outcome/outcome.h"

namespace demodctl {

Outcome on_line(BoardBus& bus);
Outcome agc_ok(BoardBus& bus);
Outcome cbs_ok(BoardBus& bus);
Outcome tr_ok(BoardBus& bus);
Outcome sync_ok(BoardBus& bus);
Outcome cr_ok(BoardBus& bus);
Outcome fec_ok(BoardBus& bus);

Outcome chip_init(BoardBus& bus);
Outcome hot_rst(BoardBus& bus);
Outcome dvb_standard(BoardBus& bus);

}  // namespace demodctl
