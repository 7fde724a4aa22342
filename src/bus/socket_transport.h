// The register-server transport: every operation is one or more client calls on the channel and
// address of the device record; a nonzero result of a register call is a failure.
#pragma once

#include "bus/register_server_calls.h"
#include "bus/transport.h"

namespace demodctl {

class SocketTransport : public Transport {
 public:
  SocketTransport(const I2cDevice& demod, RegisterServerCalls& calc)
      : Transport(demod), calc_(calc) {}

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
  GateSpan gate_span() const override;

 private:
  Result<void> read(int channel, int address, int reg, std::span<uint8_t> out);
  Result<void> write(int channel, int address, int reg, std::span<const uint8_t> data);
  Fault refused(std::string_view what, int channel, int address, int reg) const;
  RegisterServerCalls& calc_;
};

}  // namespace demodctl
