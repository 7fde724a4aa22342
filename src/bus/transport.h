// What every command does on the bus, whichever transport carries it.
//
// The front end builds one Transport from the command line (the register server's client, or the
// USB-to-I2C bridge) and hands it to the command; commands never ask which one they have. Each
// implementation is one file that reads like its column of the register-access tables.
//
// Every operation returns 0, or -1 after it has printed its failure result line: the command then
// returns -1 at once, without closing the connection, and sends nothing more.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "bus/i2c_device.h"

namespace demodctl {

// Demodulator register 0x2D: writing 1 opens the I2C repeater to the tuner for one transfer.
inline constexpr uint8_t kRegRepeater = 0x2D;
inline constexpr uint8_t kRepeaterOpen = 0x01;

// The identity bytes at 0x6C..0x6F; the chip is present when byte 2 is 0x36 and byte 3 is 0x31.
inline constexpr uint8_t kRegIdentity = 0x6C;
inline constexpr size_t kIdentityLen = 4;
using Identity = std::array<uint8_t, kIdentityLen>;

class Transport {
 public:
  explicit Transport(const I2cDevice& demod) : demod_(demod) {}
  virtual ~Transport() = default;
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // The demodulator as the command line names it.
  const I2cDevice& demod() const { return demod_; }

  // Opens the one connection of the run ("err openerror,failed" when the bridge cannot be had).
  virtual int open_connection() = 0;
  // Closes it; called once, after the result line of a command that ran to its end.
  virtual void close_connection() = 0;

  // Demodulator registers reg, reg+1, ... in one transfer; `out` is zeroed first.
  virtual int demod_read_regs(uint8_t reg, std::span<uint8_t> out) = 0;
  virtual int demod_write_regs(uint8_t reg, std::span<const uint8_t> data) = 0;
  // The identity read. On the USB bridge a chip that does not acknowledge reads as zeros
  // (absent) instead of failing, while a bridge that fails the read fails it; on the register
  // server any refusal fails like any other read.
  virtual int read_identity(Identity& id) = 0;
  // out.size() successive one-byte reads of the same register (the capture data port).
  virtual int read_period(uint8_t reg, std::span<uint8_t> out) = 0;
  // The speed setting of a device's channel (the register server's seti2cspeed). The bridge has
  // one bus whose speed was given when it opened: nothing to do there.
  virtual void set_speed(const I2cDevice& device) = 0;

  // Tuner registers, through the demodulator's repeater unless `direct`. The repeater opening
  // and every tuner transfer are checked: the first failure ends the access.
  virtual int tuner_read_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                              std::span<uint8_t> out) = 0;
  virtual int tuner_write_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                               std::span<const uint8_t> data) = 0;

 private:
  I2cDevice demod_;
};

// One-byte helpers on top of the transport. demod_read_reg gives nothing after a failure, so a
// failed read is never taken for a value.
std::optional<uint8_t> demod_read_reg(Transport& bus, uint8_t reg);
int demod_write_reg(Transport& bus, uint8_t reg, uint8_t value);

enum class ChipId { present, absent, failed };
ChipId check_chip_id(Transport& bus, Identity& id);

// Prints "err no connection,failed" with -1 and gives -1: the end of a failed transfer.
int report_bus_failure();

}  // namespace demodctl
