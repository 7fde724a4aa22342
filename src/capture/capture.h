// The capture sequence shared by ad_smp and fft_print: configure the capture unit, wait until the
// chip is ready, start the capture, wait until it is complete, stop, fetch the 8192 bytes.
#pragma once

#include "bus/board_bus.h"
#include "capture/samples.h"

namespace demodctl {

// The configuration writes (reg::capture_format selects the format), the two bounded waits and the
// pauses around the start. The fault of the first step that failed, none when all went through.
Result<void> run_capture(BoardBus& bus, SampleFormat format);
// The sample file could not be created or written (errno as the file layer left it).
Fault sample_file_fault(const char* step);
// The 8192 bytes of the data port reg::capture_data.
Result<void> fetch_capture(BoardBus& bus, CaptureBuffer& capture);

}  // namespace demodctl
