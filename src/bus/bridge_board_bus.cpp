#include "bus/bridge_board_bus.h"

#include <algorithm>
#include <string>
#include <vector>

namespace demodctl {
namespace {

// The bus the bridge has while closed, or a call made before it opened: nothing goes through.
const Fault kClosed{FaultKind::bus_failure, "USB bridge: closed, or a bad argument"};

// Transfers carry the 8-bit address byte's low 8 bits; the bus takes the 7-bit address above the
// R/W bit.
uint8_t addr7_of(int address) { return static_cast<uint8_t>((address & 0xFF) >> 1); }

// A transaction the bus did not carry: not acknowledged, or not carried at all, with its cause.
Fault refused(std::string_view what, int address, uint8_t reg, const Fault& why) {
  Fault fault = refused_transfer(what, -1, address, reg);
  fault.kind = why.kind == FaultKind::nack ? FaultKind::nack : FaultKind::bus_failure;
  fault.cause += ": " + why.cause;
  return fault;
}

}  // namespace

Result<void> BridgeBoardBus::open_connection() { return bridge_.open(demod().speed); }

void BridgeBoardBus::close_connection() { bridge_.close(); }

Result<void> BridgeBoardBus::read(int address, uint8_t reg, std::span<uint8_t> out) {
  std::fill(out.begin(), out.end(), uint8_t{0});
  I2cBus* bus = bridge_.bus();
  const uint8_t header[] = {reg};
  const Result<void> result = bus ? bus->transfer(addr7_of(address), header, out) : kClosed;
  if (!result) std::fill(out.begin(), out.end(), uint8_t{0});
  return result;
}

Result<void> BridgeBoardBus::write(int address, uint8_t reg, std::span<const uint8_t> data) {
  I2cBus* bus = bridge_.bus();
  if (bus == nullptr) return kClosed;
  std::vector<uint8_t> scratch{reg};
  scratch.insert(scratch.end(), data.begin(), data.end());
  return bus->transfer(addr7_of(address), scratch, {});
}

Result<void> BridgeBoardBus::demod_read_regs(uint8_t reg, std::span<uint8_t> out) {
  return device_read_regs(demod(), reg, out);
}

Result<void> BridgeBoardBus::demod_write_regs(uint8_t reg, std::span<const uint8_t> data) {
  return device_write_regs(demod(), reg, data);
}

Result<void> BridgeBoardBus::read_identity(uint8_t reg, Identity& id) {
  const Result<void> result = read(demod().address, reg, id);
  // A chip that does not acknowledge is absent, not a failure: its bytes read as zeros. A
  // bridge that failed the read (unplugged, bus error) says nothing about the chip: a failure.
  if (result || result.error().kind == FaultKind::nack) return {};
  return refused("identity read", demod().address, reg, result.error());
}

Result<void> BridgeBoardBus::read_period(uint8_t reg, std::span<uint8_t> out) {
  for (size_t i = 0; i < out.size(); ++i) {
    if (const Result<void> result = read(demod().address, reg, out.subspan(i, 1)); !result) {
      std::fill(out.begin(), out.end(), uint8_t{0});
      return refused("period read", demod().address, reg, result.error());
    }
  }
  return {};
}

void BridgeBoardBus::set_speed(const I2cDevice&) {}

Result<void> BridgeBoardBus::device_read_regs(const I2cDevice& device, uint8_t reg,
                                              std::span<uint8_t> out) {
  if (const Result<void> result = read(device.address, reg, out); !result) {
    return refused("read", device.address, reg, result.error());
  }
  return {};
}

Result<void> BridgeBoardBus::device_write_regs(const I2cDevice& device, uint8_t reg,
                                               std::span<const uint8_t> data) {
  if (const Result<void> result = write(device.address, reg, data); !result) {
    return refused("write", device.address, reg, result.error());
  }
  return {};
}

}  // namespace demodctl
