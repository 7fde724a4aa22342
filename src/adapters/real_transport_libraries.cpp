#include "adapters/real_transport_libraries.h"

#include "adapters/bus_choice.h"

namespace demodctl {

RegisterServer& RealTransportLibraries::register_server() {
  if (!client_) client_ = std::make_unique<RegClient>(settings_);
  return *client_;
}

I2cBridge& RealTransportLibraries::usb_bridge() {
  if (!bridge_) {
    const std::string bus = settings_.bridge_bus;
    bridge_ = std::make_unique<UsbBridge>(
        [bus] { return open_chosen_bus(parse_bus_choice(bus.c_str()), kSysfsRoot); }, settings_);
  }
  return *bridge_;
}

}  // namespace demodctl
