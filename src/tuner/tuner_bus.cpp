#include "tuner/tuner_bus.h"

#include <algorithm>

#include "bus/delay.h"
#include "demod/field_access.h"

namespace demodctl {
namespace {

// Behind the gate the tuner is reached on the demodulator's channel, at its own address.
I2cDevice addressed(const BoardBus& bus, const I2cDevice& tuner, TunerWiring wiring) {
  if (wiring == TunerWiring::direct) return tuner;
  I2cDevice device = bus.demod();
  device.address = tuner.address;
  return device;
}

// Written to the demodulator, it opens the repeater for one tuner transfer.
constexpr GateOpening kGateOpening{reg::repeater_open.reg, reg::repeater_open.put(0, 1)};

}  // namespace

TunerBus::TunerBus(BoardBus& bus, const I2cDevice& tuner, TunerWiring wiring)
    : bus_(bus), device_(addressed(bus, tuner, wiring)), wiring_(wiring) {}

Result<void> open_gate(BoardBus& bus) {
  return demod_write_reg(bus, kGateOpening.reg, kGateOpening.value);
}

Result<void> TunerBus::select() { return open_gate(bus_); }

template <typename Transfer>
Result<void> TunerBus::in_groups(uint8_t reg, size_t size, Transfer transfer) {
  const GateSpan span = bus_.gate_span();
  const size_t group = span.bytes_per_opening == 0 ? size : span.bytes_per_opening;
  for (size_t first = 0; first < size; first += group) {
    const size_t count = std::min(group, size - first);
    if (auto done = transfer(static_cast<uint8_t>(reg + first), first, count); !done) {
      return done.error();
    }
    // Timed from the group's acknowledgement: the transfer has returned with its reply.
    if (span.pause_ms > 0) delay_ms(span.pause_ms);
  }
  return {};
}

Result<void> TunerBus::read_regs(uint8_t reg, std::span<uint8_t> out) {
  if (wiring_ == TunerWiring::direct) return bus_.device_read_regs(device_, reg, out);
  return in_groups(reg, out.size(), [&](uint8_t at, size_t first, size_t count) -> Result<void> {
    if (auto opened = select(); !opened) return opened;
    return bus_.device_read_regs(device_, at, out.subspan(first, count));
  });
}

Result<void> TunerBus::write_regs(uint8_t reg, std::span<const uint8_t> data) {
  if (wiring_ == TunerWiring::direct) return bus_.device_write_regs(device_, reg, data);
  return in_groups(reg, data.size(), [&](uint8_t at, size_t first, size_t count) {
    return bus_.open_gate_and_write(kGateOpening, device_, at, data.subspan(first, count));
  });
}

Result<void> write_tuner_rows(TunerBus& tuner, std::span<const RegRow> rows) {
  return apply_rows(rows, [&](uint8_t reg, std::span<const uint8_t> bytes) {
    return tuner.write_regs(reg, bytes);
  });
}

}  // namespace demodctl
