#include "bus/server_board_bus.h"

#include <algorithm>

namespace demodctl {
namespace {

// Through the repeater the server reaches the tuner one byte per opening; each byte is followed
// by this pause.
constexpr size_t kBytesPerOpening = 1;
constexpr int kRepeaterPauseMs = 2;
// The capture fetch: one-byte items, and the burst the server may read back to back.
constexpr int kPeriodItemLen = 1;
constexpr int kPeriodBurst = 100;

ServerRegister at(const I2cDevice& device, uint8_t reg) {
  return {device.channel, device.address, reg};
}

// A failed read leaves zeros, never what the call may have left behind.
Result<void> zeroed_on_failure(Result<void> result, std::span<uint8_t> out) {
  if (!result) std::fill(out.begin(), out.end(), uint8_t{0});
  return result;
}

}  // namespace

Result<void> ServerBoardBus::open_connection() {
  // Neither result is examined: an unreachable server shows at the first register call.
  (void)server_.connect(demod().host, demod().port);
  (void)server_.set_speed(demod().channel, demod().speed);
  return {};
}

void ServerBoardBus::close_connection() { server_.disconnect(); }

Result<void> ServerBoardBus::read(const ServerRegister& where, std::span<uint8_t> out) {
  return zeroed_on_failure(server_.read_regs(where, out), out);
}

Result<void> ServerBoardBus::demod_read_regs(uint8_t reg, std::span<uint8_t> out) {
  return read(at(demod(), reg), out);
}

Result<void> ServerBoardBus::demod_write_regs(uint8_t reg, std::span<const uint8_t> data) {
  return server_.write_regs(at(demod(), reg), data);
}

Result<void> ServerBoardBus::read_identity(uint8_t reg, Identity& id) {
  return demod_read_regs(reg, id);
}

Result<void> ServerBoardBus::read_period(uint8_t reg, std::span<uint8_t> out) {
  return zeroed_on_failure(server_.read_period(at(demod(), reg), out, kPeriodItemLen, kPeriodBurst),
                           out);
}

void ServerBoardBus::set_speed(const I2cDevice& device) {
  (void)server_.set_speed(device.channel, device.speed);  // result not examined, as at open
}

Result<void> ServerBoardBus::device_read_regs(const I2cDevice& device, uint8_t reg,
                                              std::span<uint8_t> out) {
  return read(at(device, reg), out);
}

Result<void> ServerBoardBus::device_write_regs(const I2cDevice& device, uint8_t reg,
                                               std::span<const uint8_t> data) {
  return server_.write_regs(at(device, reg), data);
}

// Both requests are in flight before the first reply: the server still performs the opening, then
// the write, so the bus sees what two calls gave. When the opening is refused the write was
// performed all the same, with the gate as the refusal left it (a write the tuner behind a
// closed gate does not acknowledge); its reply is read and dropped and the access ends with the
// gate's fault.
Result<void> ServerBoardBus::open_gate_and_write(GateOpening gate, const I2cDevice& device,
                                                 uint8_t reg, std::span<const uint8_t> data) {
  const uint8_t opening[] = {gate.value};
  return server_.write_pair({at(demod(), gate.reg), opening}, {at(device, reg), data});
}

GateSpan ServerBoardBus::gate_span() const { return {kBytesPerOpening, kRepeaterPauseMs}; }

}  // namespace demodctl
