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

namespace demodctl {

class I2cBus {
 public:
  virtual ~I2cBus() = default;
  // Returns false when the device did not acknowledge or the adapter failed.
  // The contents of rx are unspecified after a failure; callers zero it first.
  virtual bool transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) = 0;
};

}  // namespace demodctl
