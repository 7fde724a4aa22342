// The inside of SimBoard: the devices on the bus, the repeater, the lock and
// capture models and the fault bookkeeping.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/capture_model.h"
#include "sim/lock_model.h"
#include "sim/lock_timeline.h"
#include "sim/random_faults.h"
#include "sim/scenario.h"
#include "sim/sim_board.h"
#include "sim/tuner_model.h"

namespace demodctl {

struct SimDevice {
  sim::DeviceConfig config;
  uint8_t pointer = 0;  // register pointer, auto-incremented, wraps at 0xFF
};

struct SimBoard::State {
  explicit State(const sim::Scenario& scenario);

  SimDevice demod;
  std::vector<SimDevice> tuners;
  std::vector<int> channels;
  sim::Faults faults;
  sim::RandomFaults random_faults;
  // The signal the demodulator receives now (the scenario's; none when the scenario states only
  // registers). The capture unit's samples are drawn from it. With transponders it follows the
  // tuning of the tuner written last.
  std::optional<sim::Signal> signal;
  std::optional<std::vector<sim::Transponder>> transponders;
  std::vector<sim::RegisterValue> stated_registers;
  std::optional<sim::Tuning> tuning;
  sim::LockModel lock;
  sim::LockTimeline lock_timeline;
  sim::CaptureModel capture;
  // The AGC ready flag (0x38 bit 7) reads 0 until this many more reads of 0x37; it starts again
  // from the signal's agc_settle_reads whenever acquisition restarts.
  uint32_t agc_settle_reads = 0;
  uint32_t agc_reads_left = 0;
  bool repeater_open = false;
  bool drop_pending = false;
  uint64_t operations = 0;  // transactions seen since the board was made

  // The device answering at `address8` right now (repeater rules applied),
  // or nullptr. Consumes the repeater opening when it routes to a tuner.
  SimDevice* route(uint8_t address8);
  bool register_fails(uint8_t address8, uint8_t first, std::size_t count) const;
  uint8_t stuck_mask(uint8_t address8, uint8_t reg) const;
  void restart_acquisition();
  void write(SimDevice& device, uint8_t reg, uint8_t value);
  // After a transaction that wrote to `tuner`: a new tuning changes the signal received.
  void tuner_written(const SimDevice& tuner);
  uint8_t read(SimDevice& device, uint8_t reg);
};

}  // namespace demodctl
