// The RDA5815 tuner driver (tuner type 1): only tuner register writes, through the transport's
// tuner access, and waits. Both operations return 0, or -1 once a tuner write has failed (its
// failure line printed); nothing is written after a failure.
#pragma once

#include <cstdint>

#include "bus/transport.h"

namespace demodctl {

int rda5815_init(Transport& bus, const I2cDevice& tuner, bool direct);
int rda5815_set(Transport& bus, int32_t freq_mhz, int32_t bw_mhz, const I2cDevice& tuner,
                bool direct);

// The frequency word of registers 0x07..0x0A and the filter byte of register 0x0B.
uint32_t rda5815_freq_word(int32_t freq_mhz);
uint8_t rda5815_filter_byte(int32_t bw_mhz);

}  // namespace demodctl
