// The one transport primitive: an I2C bus that performs one transaction.
//
//   START addr7+W tx[0] .. tx[n-1]  [Sr addr7+R rx[0] .. rx[m-1]]  STOP
//
// With an empty tx and a non-empty rx only the read phase is sent; with both
// empty the transaction is an address-only probe. Linux i2c-dev, the simulated
// board and the test doubles implement this; the bridge calls, the register
// server and register access are all written on top of it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "result/result.h"

namespace demodctl {

// What becomes of one transaction: nothing when it was done (rx holds what the device sent), else
// one of two faults. Only FaultKind::nack says something about the device (nothing answers at
// that address, or it refused a byte); FaultKind::bus_failure says the bus could not be used
// (adapter unplugged, bus stuck, timeout, a request the adapter cannot carry), so nothing is known
// about the device.
class I2cBus {
 public:
  virtual ~I2cBus() = default;
  // The contents of rx are unspecified unless the transaction was done; callers zero it first.
  virtual Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx,
                                std::span<uint8_t> rx) = 0;
};

// "device 0xD0 did not acknowledge" (the 8-bit address byte, as the tools name devices).
Fault i2c_nack(uint8_t addr7);
// The bus could not carry a transaction to addr7: "device 0xD0: " + why.
Fault i2c_bus_failure(uint8_t addr7, const std::string& why);

}  // namespace demodctl
