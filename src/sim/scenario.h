// A scenario as plain data: what the simulated board holds and which faults it
// injects. Read from JSON text (see docs/simulator.md); the board is built from it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result/result.h"
#include "sim/lock_timeline.h"
#include "sim/random_faults.h"
#include "sim/signal.h"
#include "sim/sim_registers.h"
#include "sim/tuner_model.h"

namespace demodctl::sim {

// One device on the simulated bus, addressed by its 8-bit address byte.
struct DeviceConfig {
  uint8_t address = 0;
  bool behind_repeater = false;               // tuners only: reachable only through the demodulator
  TunerType tuner_type = TunerType::rda5815;  // tuners only: how the board reads its tuning
  RegisterFile registers{};
};

// Every transaction to `address` whose register range covers `reg` is not acknowledged.
struct RegisterFault {
  uint8_t address = 0;
  uint8_t reg = 0;
};

// Bits of `mask` in register `reg` of device `address` always read 0.
struct StuckLow {
  uint8_t address = 0;
  uint8_t reg = 0;
  uint8_t mask = 0;
};

struct Faults {
  std::vector<uint64_t> fail_ops;     // operation numbers (from 1) that are not acknowledged
  std::vector<uint64_t> drop_at_ops;  // operation numbers at which the connection is dropped
  std::vector<RegisterFault> fail_registers;
  std::vector<StuckLow> stuck_low;
  RandomFaultRates random;  // all rates 0: no random faults
};

struct Scenario {
  DeviceConfig demod;
  std::vector<DeviceConfig> tuners;
  std::vector<int> channels;
  // 0x2C reads per acquisition stage after a restart; 0 = lock comes back at once.
  uint32_t acquisition_reads_per_stage = 1;
  // Spans of 0x2C reads during which only some lock flags show (a scripted fade); empty: none.
  std::vector<LockSpan> lock_timeline;
  // The received signal; its registers are in demod.registers already (explicit register
  // entries win over it). Absent: the registers are exactly what the scenario states.
  std::optional<Signal> signal;
  // The demodulator registers the scenario states; they win over every signal picture.
  std::vector<RegisterValue> stated_registers;
  // Given: the board receives what a tuner is tuned to, nothing before (signal is then
  // nothing_received()). Absent: it receives `signal` whatever the tuners hold.
  std::optional<std::vector<Transponder>> transponders;
  Faults faults;
};

// The default board: a present chip locked on the default Signal (DVB-S2 8PSK 3/4), one tuner at
// 0xC0 behind the repeater, channel 0, no faults.
Scenario default_scenario();

// Parses and checks a scenario. On failure returns nothing and sets *problem to a
// one-line description (without the file name).
Result<Scenario> parse_scenario(std::string_view text);

}  // namespace demodctl::sim
