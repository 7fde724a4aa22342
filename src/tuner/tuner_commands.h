// The tuner command: programs the tuner behind the demodulator to a frequency and bandwidth.
#pragma once

#include <cstdint>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

// Own arguments: tuner channel (register server only), tuner address, tuner type (0: type 0
// driver, 1: RDA5815, other: none), frequency and bandwidth in MHz. The front end has filled
// tuner_device from the first two.
int32_t tuner_set(Transport& bus, CommandArgs args);

}  // namespace demodctl
