// The capture commands: a snapshot of 2048 ADC sample pairs through the chip's capture unit,
// written to the sample file `qv_ad_smp` and, for fft_print, printed.
#pragma once

#include <cstdint>

#include "bus/transport.h"
#include "cli/numbers.h"

namespace demodctl {

// Own argument 0: capture_mode (1: 8-bit samples, anything else: 9-bit).
int32_t ad_smp(Transport& bus, CommandArgs args);
int32_t fft_print(Transport& bus, CommandArgs args);

}  // namespace demodctl
