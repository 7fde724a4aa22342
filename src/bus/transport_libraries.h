// How the program reaches the two transports' libraries: the register-server client and the USB
// bridge (the program's own, or recording doubles in tests). Each is asked for only when its
// transport is chosen.
#pragma once

#include "bus/i2c_bridge.h"
#include "bus/register_server.h"

namespace demodctl {

class TransportLibraries {
 public:
  virtual ~TransportLibraries() = default;
  virtual RegisterServer& register_server() = 0;
  virtual I2cBridge& usb_bridge() = 0;
};

}  // namespace demodctl
