#include "sim/sim_state.h"

#include <algorithm>

#include "sim/sim_registers.h"

namespace demodctl {

using namespace sim;

SimBoard::State::State(const Scenario& scenario)
    : demod{scenario.demod},
      channels(scenario.channels),
      faults(scenario.faults),
      random_faults(scenario.faults.random),
      signal(scenario.signal),
      transponders(scenario.transponders),
      stated_registers(scenario.stated_registers),
      lock(scenario.acquisition_reads_per_stage),
      lock_timeline(scenario.lock_timeline) {
  for (const auto& tuner : scenario.tuners) tuners.push_back(SimDevice{tuner});
  if (scenario.signal) agc_settle_reads = agc_reads_left = scenario.signal->agc_settle_reads;
}

void SimBoard::State::restart_acquisition() {
  lock.restart();
  agc_reads_left = agc_settle_reads;
}

// The registers and the capture follow the new signal; acquisition starts again on it (unless the
// demodulator is held in reset, which it leaves as it is).
void SimBoard::State::tuner_written(const SimDevice& tuner) {
  if (!transponders) return;
  const auto now = decode_tuning(tuner.config.tuner_type, tuner.config.registers);
  if (now == tuning) return;
  tuning = now;
  signal = received_signal(*transponders, tuning);
  apply_reception(*signal, stated_registers, demod.config.registers);
  agc_settle_reads = agc_reads_left = signal->agc_settle_reads;
  if (lock.phase() != LockModel::Phase::held) lock.restart();
}

SimDevice* SimBoard::State::route(uint8_t address8) {
  if (address8 == demod.config.address) return &demod;
  for (auto& tuner : tuners) {
    if (tuner.config.address != address8) continue;
    if (!tuner.config.behind_repeater) return &tuner;
    if (!repeater_open) return nullptr;
    // One transaction per opening: the repeater closes behind it.
    repeater_open = false;
    demod.config.registers[reg::repeater_open.reg] =
        reg::repeater_open.put(demod.config.registers[reg::repeater_open.reg], 0);
    return &tuner;
  }
  return nullptr;
}

bool SimBoard::State::register_fails(uint8_t address8, uint8_t first, std::size_t count) const {
  return std::any_of(faults.fail_registers.begin(), faults.fail_registers.end(),
                     [&](const RegisterFault& fault) {
                       const auto offset = static_cast<uint8_t>(fault.reg - first);
                       return fault.address == address8 && offset < count;
                     });
}

uint8_t SimBoard::State::stuck_mask(uint8_t address8, uint8_t reg) const {
  uint8_t mask = 0;
  for (const auto& stuck : faults.stuck_low) {
    if (stuck.address == address8 && stuck.reg == reg) mask |= stuck.mask;
  }
  return mask;
}

void SimBoard::State::write(SimDevice& device, uint8_t number, uint8_t value) {
  device.config.registers[number] = value;
  if (&device != &demod) return;
  switch (number) {
    case reg::repeater_open.reg:
      repeater_open = reg::repeater_open.set_in(value);
      break;
    case reg::core_reset.reg:
      if (reg::core_reset.get(value) == kCoreRelease) restart_acquisition();
      if (reg::core_reset.get(value) == kCoreHold) lock.hold();
      break;
    case reg::chip_reset.reg:
      if (reg::chip_reset.set_in(value)) lock.hold();
      break;
    case reg::init_done.reg:
      if (reg::init_done.set_in(value)) restart_acquisition();
      break;
    case reg::capture_start.reg:
      if (reg::capture_start.set_in(value)) {
        capture.start(demod.config.registers[reg::capture_format.reg], signal);
      }
      break;
    default:
      break;
  }
}

uint8_t SimBoard::State::read(SimDevice& device, uint8_t number) {
  uint8_t value = device.config.registers[number];
  if (&device == &demod) {
    if (number == reg::lock_status.reg) value = lock_timeline.read(lock.read(value));
    if (number == reg::capture_data.reg) value = capture.next_byte();
    // 0xEA shows the complete flag once the capture has taken its time (a few polls).
    if (number == reg::capture_done.reg && reg::capture_start.set_in(value) &&
        capture.poll_complete()) {
      value |= reg::capture_done.put(0, kCaptureComplete);
    }
    if (number == reg::agc_level.reg && agc_reads_left > 0) --agc_reads_left;
    if (number == reg::agc_ready.reg && agc_reads_left > 0) value = reg::agc_ready.put(value, 0);
    value &= static_cast<uint8_t>(~random_faults.stuck_flags(number));
  }
  return static_cast<uint8_t>(value & ~stuck_mask(device.config.address, number));
}

}  // namespace demodctl
