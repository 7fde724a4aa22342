// The USB-to-I2C bridge as the USB transport uses it: opened once at the run's speed, then an I2C
// bus (every register transfer one transaction on it, the address as its 7 bits), closed at the
// end. Only one bridge exists (device index 0).
//
// UsbBridge (bus/usb_bridge.h) opens the bus the program hands it; tests give a scripted double.
#pragma once

#include "i2c/i2c_bus.h"
#include "result/result.h"

namespace demodctl {

class I2cBridge {
 public:
  virtual ~I2cBridge() = default;
  // Opens the bridge's bus with `speed` as its stream mode; FaultKind::open_error when it cannot
  // be had. When already open the first bus is kept.
  virtual Result<void> open(int speed) = 0;
  // The open bus; nullptr while closed.
  virtual I2cBus* bus() = 0;
  virtual void close() = 0;
};

}  // namespace demodctl
