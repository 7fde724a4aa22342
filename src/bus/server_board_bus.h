// The board's bus reached through the register server: every operation is one or more calls on the
// channel and address of the device record; a refused call's fault is the client's own account of
// it.
#pragma once

#include "bus/board_bus.h"
#include "bus/register_server.h"

namespace demodctl {

class ServerBoardBus : public BoardBus {
 public:
  ServerBoardBus(const I2cDevice& demod, RegisterServer& server)
      : BoardBus(demod), server_(server) {}

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
  // The opening and the write as one pipelined pair (RegisterServer::write_pair).
  Result<void> open_gate_and_write(GateOpening gate, const I2cDevice& device, uint8_t reg,
                                   std::span<const uint8_t> data) override;

 private:
  Result<void> read(const ServerRegister& at, std::span<uint8_t> out);
  RegisterServer& server_;
};

}  // namespace demodctl
