// The one place the way a board is reached is chosen: the board's bus over the register server's
// client or over the USB bridge. demodctl, demodmon, demodreg and the Python module all build
// their bus here.
#pragma once

#include <memory>

#include "bus/board_bus.h"
#include "bus/i2c_device.h"
#include "bus/transport_libraries.h"

namespace demodctl {

// The board's bus for `via`, on the library of that way only (which must outlive the bus).
std::unique_ptr<BoardBus> make_board_bus(Via via, const I2cDevice& demod,
                                         TransportLibraries& libraries);

}  // namespace demodctl
