// The simulated demodulator board: an I2C bus with the demodulator on it, the
// demodulator's repeater, and tuners behind the repeater or directly on the bus.
// Built from a scenario (JSON, see docs/simulator.md); faults are injected per
// transaction. State lasts as long as the object.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "i2c/i2c_bus.h"

namespace demodctl {

class SimBoard : public I2cBus {
 public:
  // The default board (no scenario): a present chip, locked on a DVB-S2 signal.
  static std::unique_ptr<SimBoard> make_default();
  // A scenario that cannot be read or is not one: FaultKind::file, the cause naming the file (or
  // "scenario") and the fault in one line.
  static Result<std::unique_ptr<SimBoard>> from_file(const std::string& path);
  static Result<std::unique_ptr<SimBoard>> from_json_text(std::string_view text);

  ~SimBoard() override;
  // A NACK from an address nobody answers; fail_ops, fail_registers and a dropped connection
  // fail the transfer.
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;

  // Lets the board finish what it does on its own after a transaction (the capture unit filling
  // its memory), which a later transaction that needs it would otherwise do first. The register
  // server calls it when a connection waits for its next request.
  void settle();

  // The register-server channels the board answers on (default {0}).
  const std::vector<int>& channels() const;
  // True once after a transaction that hit a "drop the connection" fault: the
  // register server then closes that client's connection without a reply.
  bool take_drop_request();

  // Inspection for tests and tools: a demodulator register as stored.
  uint8_t demod_reg(uint8_t reg) const;
  // A tuner register as stored; 0 when there is no tuner at that 8-bit address.
  uint8_t tuner_reg(uint8_t address, uint8_t reg) const;

  struct State;  // defined in the implementation

 private:
  explicit SimBoard(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace demodctl
