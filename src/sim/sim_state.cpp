#include "sim/sim_state.h"

#include <algorithm>

#include "sim/sim_registers.h"

namespace demodctl {

using namespace sim;

namespace {
constexpr uint8_t kCaptureFormatRegister = 0x2F;  // selects the sample layout
}  // namespace

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
    demod.config.registers[kRegRepeater] &= static_cast<uint8_t>(~kRepeaterOpenBit);
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

void SimBoard::State::write(SimDevice& device, uint8_t reg, uint8_t value) {
  device.config.registers[reg] = value;
  if (&device != &demod) return;
  switch (reg) {
    case kRegRepeater:
      repeater_open = (value & kRepeaterOpenBit) != 0;
      break;
    case kRegHotReset:
      if ((value & kHotResetHoldBit) != 0) {
        if ((value & kHotResetReleaseBit) != 0) {
          restart_acquisition();
        } else {
          lock.hold();
        }
      }
      break;
    case kRegChipControl:
      if ((value & kInitBit) != 0) lock.hold();
      break;
    case kRegInitDone:
      if ((value & kInitBit) != 0) restart_acquisition();
      break;
    case kRegCaptureControl:
      if ((value & kCaptureStartBit) != 0) {
        capture.start(demod.config.registers[kCaptureFormatRegister], signal);
      }
      break;
    default:
      break;
  }
}

uint8_t SimBoard::State::read(SimDevice& device, uint8_t reg) {
  uint8_t value = device.config.registers[reg];
  if (&device == &demod) {
    if (reg == kRegLockStatus) value = lock_timeline.read(lock.read(value));
    if (reg == kRegCaptureData) value = capture.next_byte();
    // 0xEA shows the complete flag once the capture has taken its time (a few polls).
    if (reg == kRegCaptureControl && (value & kCaptureStartBit) != 0 && capture.poll_complete()) {
      value |= kCaptureDoneBit;
    }
    if (reg == kRegAgcLow && agc_reads_left > 0) --agc_reads_left;
    if (reg == kRegAgcHigh && agc_reads_left > 0) value &= static_cast<uint8_t>(~kAgcReadyBit);
    value &= static_cast<uint8_t>(~random_faults.stuck_flags(reg));
  }
  return static_cast<uint8_t>(value & ~stuck_mask(device.config.address, reg));
}

}  // namespace demodctl
