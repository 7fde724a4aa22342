// The backends the library calls use when no other is installed.
#pragma once

#include "bus/calc_api.h"
#include "bus/usbio_api.h"

namespace demodctl {

// The TCP client of regserver's protocol (one per process).
CalcBackend& default_calc_backend();
// The bridge layer: Linux i2c-dev adapter or the in-process simulated board.
UsbioBackend& default_usbio_backend();

}  // namespace demodctl
