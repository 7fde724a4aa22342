// The tuner type 0 driver: a fractional-N synthesizer on a 27 MHz reference and a baseband
// filter. Only tuner register writes, through the tuner bus (behind the repeater or not), and
// waits. Both operations return the fault of the first tuner write that failed (none when all went
// through).
#pragma once

#include <array>
#include <cstdint>

#include "tuner/tuner_bus.h"

namespace demodctl {

Result<void> tuner0_init(TunerBus& tuner);
Result<void> tuner0_set(TunerBus& tuner, int32_t freq_mhz, int32_t half_bw_mhz);

// The synthesizer bytes of registers 0x00..0x03 and the filter byte of register 0x05.
std::array<uint8_t, 4> tuner0_synth_bytes(int32_t freq_mhz);
uint8_t tuner0_filter_byte(int32_t half_bw_mhz);

}  // namespace demodctl
