// The capture commands: a snapshot of 2048 ADC sample pairs through the chip's capture unit,
// written to the sample file `qv_ad_smp` and, for fft_print, returned as the reply's value.
#pragma once

#include "bus/board_bus.h"
#include "capture/capture.h"
#include "outcome/outcome.h"

namespace demodctl {

// What ad_smp is asked for: the sample format (its capture_mode argument, parsed by the front
// end), and whether a sample file that fails says why on standard error.
struct CaptureRequest {
  SampleFormat format = SampleFormat::nine_bit;
  bool verbose = false;
};

Outcome ad_smp(BoardBus& bus, const CaptureRequest& request);
// Always the 9-bit format; `verbose` as in CaptureRequest.
Outcome fft_print(BoardBus& bus, bool verbose);

}  // namespace demodctl
