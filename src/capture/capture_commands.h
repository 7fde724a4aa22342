// The capture commands: a snapshot of 2048 ADC sample pairs through the chip's capture unit,
// written to the sample file `qv_ad_smp` and, for fft_print, returned as the reply's value.
#pragma once

#include "bus/transport.h"
#include "output/outcome.h"

namespace demodctl {

// Own argument 0: capture_mode (1: 8-bit samples, anything else: 9-bit).
Outcome ad_smp(Transport& bus, const Invocation& command);
Outcome fft_print(Transport& bus, const Invocation& command);

}  // namespace demodctl
