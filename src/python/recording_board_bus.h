// A transport that passes every operation on to the board's own and keeps the last lines of what
// went over the bus, so a failed production test can show what the board was last asked.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "bus/board_bus.h"

namespace demodctl::python {

// Lines kept per board: enough for one full sample (about twenty operations) and the tune before.
inline constexpr size_t kTraceLinesKept = 64;

class RecordingBoardBus : public BoardBus {
 public:
  explicit RecordingBoardBus(BoardBus& inner) : BoardBus(inner.demod()), inner_(inner) {}

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
  GateSpan gate_span() const override { return inner_.gate_span(); }

  // The lines kept, oldest first: "read 0x2C [1] -> 3F OK", "write 0x2E <- 01 OK", ...
  std::vector<std::string> lines() const;

 private:
  // One line for an operation: what, where, the bytes (written, or read when it went through) and
  // how it ended (the fault's text when it failed).
  void note(const char* op, long address, uint8_t reg, std::span<const uint8_t> bytes,
            const Result<void>& done);
  BoardBus& inner_;
  mutable std::mutex mutex_;  // lines() may be called from another thread than the bus work
  std::deque<std::string> lines_;
};

}  // namespace demodctl::python
