// The tuner command: programs the tuner behind the demodulator to a frequency and bandwidth.
#pragma once

#include "bus/transport.h"
#include "output/outcome.h"

namespace demodctl {

// Own arguments: tuner channel (register server only), tuner address, tuner type (0: type 0
// driver, 1: RDA5815, other: none), frequency and bandwidth in MHz; the front end has made
// command.tuner_device of the first two.
//
// On the open connection: the debug log's first lines, the tuner's channel speed (on the register
// server), the identity check, and with the chip present the driver's start-up and setting.
Outcome tuner_set(Transport& bus, const Invocation& command);

}  // namespace demodctl
