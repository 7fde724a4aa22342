// The tuner as its drivers see it: register reads and writes, whatever the board. On most boards
// the tuner hangs behind the demodulator's I2C repeater, a gate (as the kernel's i2c-mux gates
// are) that the demodulator opens for one tuner transfer when reg::repeater_open is written; a
// board whose tuner is wired to the bus directly simply has no gate.
//
// The gate is opened before each group of tuner bytes the transport carries per opening: on the
// register server one byte (then its 2 ms pause, each register addressed on its own), on the
// bridge one whole transfer. The first refused transfer, opening or tuner access, ends the access.
// A write's opening and group go to the board's bus as one step (BoardBus::open_gate_and_write),
// which the register server's client sends as one pipelined pair: there a refused opening's write
// has gone out with it, and the access ends with the opening's fault.
#pragma once

#include <cstdint>
#include <span>

#include "bus/board_bus.h"
#include "bus/reg_rows.h"

namespace demodctl {

enum class TunerWiring : uint8_t {
  behind_gate,  // reached on the demodulator's channel once the repeater is open
  direct,       // on its own channel, no gate
};

class TunerBus {
 public:
  TunerBus(BoardBus& bus, const I2cDevice& tuner, TunerWiring wiring);

  Result<void> read_regs(uint8_t reg, std::span<uint8_t> out);
  Result<void> write_regs(uint8_t reg, std::span<const uint8_t> data);

 private:
  // Opens the gate (a demodulator write) for the next group.
  Result<void> select();
  // `transfer(reg, first, count)` for each group behind the gate (which opens the gate first),
  // the transport's pause after each.
  template <typename Transfer>
  Result<void> in_groups(uint8_t reg, size_t size, Transfer transfer);

  BoardBus& bus_;
  I2cDevice device_;  // as addressed: behind the gate, on the demodulator's channel
  TunerWiring wiring_;
};

// Opens the gate for the one tuner transfer that follows (a demodulator write): what TunerBus does
// before each group, for a caller that makes the transfer itself (a scan's probe).
Result<void> open_gate(BoardBus& bus);

// Each row written to the tuner, as write_demod_rows does for the demodulator.
Result<void> write_tuner_rows(TunerBus& tuner, std::span<const RegRow> rows);

}  // namespace demodctl
