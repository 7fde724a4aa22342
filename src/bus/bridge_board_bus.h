// The board's bus reached through the USB bridge: every operation is one I2C transaction on the
// bridge's bus or a few. A transaction the bus did not carry is a failure; only the identity read
// turns a chip that does not acknowledge into zeros (absent).
#pragma once

#include "bus/board_bus.h"
#include "bus/i2c_bridge.h"

namespace demodctl {

class BridgeBoardBus : public BoardBus {
 public:
  BridgeBoardBus(const I2cDevice& demod, I2cBridge& bridge) : BoardBus(demod), bridge_(bridge) {}

  Result<void> open_connection() override;
  void close_connection() override;
  Result<void> demod_read_regs(uint8_t reg, std::span<uint8_t> out) override;
  Result<void> demod_write_regs(uint8_t reg, std::span<const uint8_t> data) override;
  Result<void> read_identity(uint8_t reg, Identity& id) override;
  Result<void> read_period(uint8_t reg, std::span<uint8_t> out) override;
  void set_speed(const I2cDevice& device) override;
  Result<void> device_read_regs(const I2cDevice& device, uint8_t reg,
                                std::span<uint8_t> out) override;
  Result<void> device_write_regs(const I2cDevice& device, uint8_t reg,
                                 std::span<const uint8_t> data) override;
  GateSpan gate_span() const override { return {0, 0}; }  // one opening per transfer, no pause

 private:
  // START addr+W reg  Sr addr+R out...  STOP. A failed read leaves zeros.
  Result<void> read(int address, uint8_t reg, std::span<uint8_t> out);
  // START addr+W reg data...  STOP, built in a buffer of its own.
  Result<void> write(int address, uint8_t reg, std::span<const uint8_t> data);
  I2cBridge& bridge_;
};

}  // namespace demodctl
