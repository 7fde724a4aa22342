// The RDA5815 tuner driver (tuner type 1): only tuner register writes, through the tuner bus
// (behind the repeater or not), and waits. Both operations return the fault of the first tuner
// write that failed (none when all went through); nothing is written after a failure.
#pragma once

#include <cstdint>

#include "tuner/tuner_bus.h"

namespace demodctl {

Result<void> rda5815_init(TunerBus& tuner);
Result<void> rda5815_set(TunerBus& tuner, int32_t freq_mhz, int32_t bw_mhz);

// The frequency word of registers 0x07..0x0A and the filter byte of register 0x0B.
uint32_t rda5815_freq_word(int32_t freq_mhz);
uint8_t rda5815_filter_byte(int32_t bw_mhz);

}  // namespace demodctl
