// The USB bridge calls run on the i2c-dev / simulated-board bridge layer.
#include "bus/default_backends.h"
#include "bus/usb_bridge.h"

namespace demodctl {

UsbioBackend& default_usbio_backend() {
  static UsbBridge bridge;
  return bridge;
}

}  // namespace demodctl
