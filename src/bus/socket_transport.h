// The register-server transport: every operation is one or more client calls on the channel and
// address of the device record; a nonzero result of a register call is a failure.
#pragma once

#include <functional>

#include "bus/calc_api.h"
#include "bus/transport.h"

namespace demodctl {

class SocketTransport : public Transport {
 public:
  SocketTransport(const I2cDevice& demod, CalcBackend& calc) : Transport(demod), calc_(calc) {}

  int open_connection() override;
  void close_connection() override;
  int demod_read_regs(uint8_t reg, std::span<uint8_t> out) override;
  int demod_write_regs(uint8_t reg, std::span<const uint8_t> data) override;
  int read_identity(Identity& id) override;
  int read_period(uint8_t reg, std::span<uint8_t> out) override;
  void set_speed(const I2cDevice& device) override;
  int tuner_read_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                      std::span<uint8_t> out) override;
  int tuner_write_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                       std::span<const uint8_t> data) override;

 private:
  int read(int channel, int address, int reg, std::span<uint8_t> out);
  int write(int channel, int address, int reg, std::span<const uint8_t> data);
  int through_repeater(size_t count, const std::function<int(size_t)>& transfer);
  CalcBackend& calc_;
};

}  // namespace demodctl
