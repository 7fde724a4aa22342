// The program's transport libraries: regserver's TCP client for the socket transport, and the
// USB bridge on the bus DEMODCTL_I2C_BUS names (an i2c-dev adapter or the in-process simulated
// board). Each is made only when its transport is chosen.
#pragma once

#include <memory>

#include "bus/reg_client.h"
#include "bus/transport_libraries.h"
#include "bus/usb_bridge.h"

namespace demodctl {

class RealTransportLibraries : public TransportLibraries {
 public:
  RegisterServerCalls& register_server() override;
  UsbioBackend& usbio() override;

 private:
  std::unique_ptr<RegClient> client_;
  std::unique_ptr<UsbBridge> bridge_;
};

}  // namespace demodctl
