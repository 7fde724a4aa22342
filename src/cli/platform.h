// The real platform of the program: regserver's TCP client for the socket transport, and the
// USB bridge on the bus DEMODCTL_I2C_BUS names (an i2c-dev adapter or the in-process simulated
// board). Each is made only when its transport is chosen.
#pragma once

#include <memory>

#include "bus/reg_client.h"
#include "bus/usb_bridge.h"
#include "cli/dispatch.h"

namespace demodctl {

class RealPlatform : public Platform {
 public:
  CalcBackend& calc() override;
  UsbioBackend& usbio() override;

 private:
  std::unique_ptr<RegClient> client_;
  std::unique_ptr<UsbBridge> bridge_;
};

}  // namespace demodctl
