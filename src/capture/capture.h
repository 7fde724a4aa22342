// The capture sequence shared by ad_smp and fft_print: configure the capture unit, wait until the
// chip is ready, start the capture, wait until it is complete, stop, fetch the 8192 bytes.
#pragma once

#include "bus/transport.h"
#include "capture/samples.h"

namespace demodctl {

// The configuration writes (reg::capture_format selects the format), the two bounded waits and the
// pauses around the start. The fault of the first step that failed, none when all went through.
Fault run_capture(Transport& bus, SampleFormat format);
// The 8192 bytes of the data port reg::capture_data.
Fault fetch_capture(Transport& bus, CaptureBuffer& capture);

}  // namespace demodctl
