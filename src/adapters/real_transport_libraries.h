// The program's transport libraries: regserver's TCP client for the socket transport, and the
// USB bridge on the bus the run's settings name (an i2c-dev adapter or the in-process simulated
// board). Each is made only when its transport is chosen, with the run's settings.
#pragma once

#include <memory>
#include <utility>

#include "bus/reg_client.h"
#include "bus/run_settings.h"
#include "bus/transport_libraries.h"
#include "bus/usb_bridge.h"

namespace demodctl {

class RealTransportLibraries : public TransportLibraries {
 public:
  explicit RealTransportLibraries(RunSettings settings) : settings_(std::move(settings)) {}
  RegisterServer& register_server() override;
  I2cBridge& usb_bridge() override;

 private:
  RunSettings settings_;
  std::unique_ptr<RegClient> client_;
  std::unique_ptr<UsbBridge> bridge_;
};

}  // namespace demodctl
