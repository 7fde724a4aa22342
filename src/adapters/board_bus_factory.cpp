#include "adapters/board_bus_factory.h"

#include "bus/bridge_board_bus.h"
#include "bus/server_board_bus.h"

namespace demodctl {

std::unique_ptr<BoardBus> make_board_bus(Via via, const I2cDevice& demod,
                                         TransportLibraries& libraries) {
  if (via == Via::server)
    return std::make_unique<ServerBoardBus>(demod, libraries.register_server());
  return std::make_unique<BridgeBoardBus>(demod, libraries.usb_bridge());
}

}  // namespace demodctl
