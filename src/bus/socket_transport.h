// The register-server transport: every operation is one or more client calls on the channel and
// address of the device record; a nonzero result of a register call is a failure.
#pragma once

#include <functional>

#include "bus/register_server_calls.h"
#include "bus/transport.h"

namespace demodctl {

class SocketTransport : public Transport {
 public:
  SocketTransport(const I2cDevice& demod, RepeaterOpening repeater, RegisterServerCalls& calc)
      : Transport(demod, repeater), calc_(calc) {}

  Fault open_connection() override;
  void close_connection() override;
  Fault demod_read_regs(uint8_t reg, std::span<uint8_t> out) override;
  Fault demod_write_regs(uint8_t reg, std::span<const uint8_t> data) override;
  Fault read_identity(uint8_t reg, Identity& id) override;
  Fault read_period(uint8_t reg, std::span<uint8_t> out) override;
  void set_speed(const I2cDevice& device) override;
  Fault tuner_read_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                        std::span<uint8_t> out) override;
  Fault tuner_write_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                         std::span<const uint8_t> data) override;

 private:
  Fault read(int channel, int address, int reg, std::span<uint8_t> out);
  Fault write(int channel, int address, int reg, std::span<const uint8_t> data);
  Fault through_repeater(size_t count, const std::function<Fault(size_t)>& transfer);
  RegisterServerCalls& calc_;
};

}  // namespace demodctl
