// The board's bus as every command sees it: the demodulator, the devices beside it and the gate
// (the demodulator's I2C repeater) in front of the tuner, whichever transport reaches them.
//
// One factory (adapters/board_bus_factory.h) builds the board's bus for the way the board is
// reached (the register server's client, or the USB-to-I2C bridge) and hands it to the command;
// commands never ask which one they have. Each implementation is one file that reads like its
// column of the register-access tables.
//
// Every operation returns its Result: nothing when it went through, else the fault with its cause
// ("read 0xD0 register 0x2C on channel 2"); it never prints. After a fault the command ends at
// once with it, without closing the connection, and sends nothing more.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "bus/i2c_device.h"
#include "result/result.h"

namespace demodctl {

// How a transport carries tuner transfers through the demodulator's I2C repeater (the gate that
// tuner/tuner_bus.h opens): how many bytes one opening carries, and the pause after each group.
struct GateSpan {
  size_t bytes_per_opening;  // 0: the whole transfer
  int pause_ms;              // after each group that went through
};

// The demodulator write that opens the gate for one group of tuner bytes (the register map's
// repeater setting, as tuner/tuner_bus.h gives it).
struct GateOpening {
  uint8_t reg;
  uint8_t value;
};

// The four identity bytes the identity check reads (what they mean is the register map's).
using Identity = std::array<uint8_t, 4>;

class BoardBus {
 public:
  explicit BoardBus(const I2cDevice& demod) : demod_(demod) {}
  virtual ~BoardBus() = default;
  BoardBus(const BoardBus&) = delete;
  BoardBus& operator=(const BoardBus&) = delete;

  // The demodulator as the command line names it.
  const I2cDevice& demod() const { return demod_; }

  // Opens the one connection of the run (FaultKind::open_error when the bridge cannot be had).
  virtual Result<void> open_connection() = 0;
  // Closes it; called once, after the result line of a command that ran to its end.
  virtual void close_connection() = 0;

  // Demodulator registers reg, reg+1, ... in one transfer; `out` is zeroed first.
  virtual Result<void> demod_read_regs(uint8_t reg, std::span<uint8_t> out) = 0;
  virtual Result<void> demod_write_regs(uint8_t reg, std::span<const uint8_t> data) = 0;
  // The identity read at `reg`. On the USB bridge a chip that does not acknowledge reads as zeros
  // (absent) instead of failing, while a bridge that fails the read fails it; on the register
  // server any refusal fails like any other read.
  virtual Result<void> read_identity(uint8_t reg, Identity& id) = 0;
  // out.size() successive one-byte reads of the same register (the capture data port).
  virtual Result<void> read_period(uint8_t reg, std::span<uint8_t> out) = 0;
  // The speed setting of a device's channel (the register server's seti2cspeed). The bridge has
  // one bus whose speed was given when it opened: nothing to do there.
  virtual void set_speed(const I2cDevice& device) = 0;

  // Registers of another device on the transport (the tuner), in one transfer: on the register
  // server on the device's channel, on the bridge on its one bus.
  virtual Result<void> device_read_regs(const I2cDevice& device, uint8_t reg,
                                        std::span<uint8_t> out) = 0;
  virtual Result<void> device_write_regs(const I2cDevice& device, uint8_t reg,
                                         std::span<const uint8_t> data) = 0;
  // How this transport groups tuner transfers behind the repeater.
  virtual GateSpan gate_span() const = 0;
  // One group behind the repeater: opens the gate, then writes `data` to the device's registers
  // from `reg`. Nothing when both went through, else the gate's fault when the opening was refused,
  // else the write's. This default makes the two transfers one after the other (the write only
  // once the gate opened), as the bridge does.
  virtual Result<void> open_gate_and_write(GateOpening gate, const I2cDevice& device, uint8_t reg,
                                           std::span<const uint8_t> data);

  // The identity check: reads the identity and keeps it for the command that follows.
  Result<void> read_chip_identity(uint8_t reg) { return read_identity(reg, identity_); }
  // What the last identity check read (zeros before any, or from a chip that did not answer).
  const Identity& identity() const { return identity_; }

 private:
  I2cDevice demod_;
  Identity identity_{};
};

// One-byte helpers on top of the transport; a failed read is never taken for a value.
Result<uint8_t> demod_read_reg(BoardBus& bus, uint8_t reg);
Result<void> demod_write_reg(BoardBus& bus, uint8_t reg, uint8_t value);

// The fault of a transfer the register server or the bridge refused, with what it was:
// "read 0xD0 register 0x2C on channel 2" (the channel left out on the bridge, channel < 0).
Fault refused_transfer(std::string_view what, int channel, int address, int reg);

}  // namespace demodctl
