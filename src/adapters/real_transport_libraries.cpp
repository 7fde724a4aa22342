#include "adapters/real_transport_libraries.h"

#include <cstdlib>

#include "adapters/bus_choice.h"

namespace demodctl {

RegisterServerCalls& RealTransportLibraries::register_server() {
  if (!client_) client_ = std::make_unique<RegClient>();
  return *client_;
}

UsbioBackend& RealTransportLibraries::usbio() {
  if (!bridge_) {
    bridge_ = std::make_unique<UsbBridge>(
        [] { return open_chosen_bus(parse_bus_choice(std::getenv(kBusEnvVar)), kSysfsRoot); });
  }
  return *bridge_;
}

}  // namespace demodctl
