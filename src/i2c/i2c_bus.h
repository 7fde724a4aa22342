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

// What became of one transaction. Only a NACK says something about the device
// (nothing answers at that address, or it refused a byte); a failure says the
// bus could not be used (adapter unplugged, bus stuck, timeout, a request the
// adapter cannot carry), so nothing is known about the device.
enum class I2cResult {
  ok,      // done; rx holds what the device sent
  nack,    // the device did not acknowledge
  failed,  // the adapter could not carry the transaction
};

class I2cBus {
 public:
  virtual ~I2cBus() = default;
  // The contents of rx are unspecified unless the result is ok; callers zero it first.
  virtual I2cResult transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) = 0;
};

}  // namespace demodctl
