// The RDA5815 tuner driver (tuner type 1): only tuner register writes, through the transport's
// tuner access, and waits. Both operations return the fault of the first tuner write that
// failed (none when all went through); nothing is written after a failure.
#pragma once

#include <cstdint>

#include "bus/transport.h"

namespace demodctl {

Result<void> rda5815_init(Transport& bus, const I2cDevice& tuner, bool direct);
Result<void> rda5815_set(Transport& bus, int32_t freq_mhz, int32_t bw_mhz, const I2cDevice& tuner,
                         bool direct);

// The frequency word of registers 0x07..0x0A and the filter byte of register 0x0B.
uint32_t rda5815_freq_word(int32_t freq_mhz);
uint8_t rda5815_filter_byte(int32_t bw_mhz);

}  // namespace demodctl
