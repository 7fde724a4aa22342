#include "bus/socket_transport.h"

#include <algorithm>

namespace demodctl {
namespace {

constexpr int kRegAddrLen = 1;  // register addresses are one byte wide
// Through the repeater the server reaches the tuner one byte per opening; each byte is followed
// by this pause.
constexpr size_t kBytesPerOpening = 1;
constexpr int kRepeaterPauseMs = 2;
// The capture fetch: one-byte items, and the burst the server may read back to back.
constexpr int kPeriodItemLen = 1;
constexpr int kPeriodBurst = 100;

}  // namespace

Result<void> SocketTransport::open_connection() {
  // Neither result is examined: an unreachable server shows at the first register call.
  calc_.init_sock(demod().host.c_str(), demod().port);
  calc_.set_i2c_speed(demod().channel, demod().speed);
  return {};
}

void SocketTransport::close_connection() { calc_.deinit_sock(); }

// A failed read leaves zeros, never what the call may have left behind.
Result<void> SocketTransport::read(int channel, int address, int reg, std::span<uint8_t> out) {
  const int rc = calc_.read_reg_multi(channel, address, reg, kRegAddrLen, out.data(),
                                      static_cast<int>(out.size()));
  if (rc == 0) return {};
  std::fill(out.begin(), out.end(), uint8_t{0});
  return refused("read", channel, address, reg);
}

Result<void> SocketTransport::write(int channel, int address, int reg,
                                    std::span<const uint8_t> data) {
  const int rc = calc_.write_reg_multi(channel, address, reg, kRegAddrLen, data.data(),
                                       static_cast<int>(data.size()));
  if (rc == 0) return {};
  return refused("write", channel, address, reg);
}

Result<void> SocketTransport::demod_read_regs(uint8_t reg, std::span<uint8_t> out) {
  return read(demod().channel, demod().address, reg, out);
}

Result<void> SocketTransport::demod_write_regs(uint8_t reg, std::span<const uint8_t> data) {
  return write(demod().channel, demod().address, reg, data);
}

Result<void> SocketTransport::read_identity(uint8_t reg, Identity& id) {
  return demod_read_regs(reg, id);
}

Result<void> SocketTransport::read_period(uint8_t reg, std::span<uint8_t> out) {
  const int rc =
      calc_.read_reg_period(demod().channel, demod().address, reg, kRegAddrLen, out.data(),
                            kPeriodItemLen, static_cast<int>(out.size()), kPeriodBurst);
  if (rc == 0) return {};
  std::fill(out.begin(), out.end(), uint8_t{0});
  return refused("period read", demod().channel, demod().address, reg);
}

// The client's own account of the refusal when it has one (the server's status, no reply, a lost
// connection), else what the call was.
Fault SocketTransport::refused(std::string_view what, int channel, int address, int reg) const {
  if (const Result<void> last = calc_.last_call_result(); !last) return last.error();
  return refused_transfer(what, channel, address, reg);
}

void SocketTransport::set_speed(const I2cDevice& device) {
  calc_.set_i2c_speed(device.channel, device.speed);  // result not examined, as at open
}

Result<void> SocketTransport::device_read_regs(const I2cDevice& device, uint8_t reg,
                                               std::span<uint8_t> out) {
  return read(device.channel, device.address, reg, out);
}

Result<void> SocketTransport::device_write_regs(const I2cDevice& device, uint8_t reg,
                                                std::span<const uint8_t> data) {
  return write(device.channel, device.address, reg, data);
}

GateSpan SocketTransport::gate_span() const { return {kBytesPerOpening, kRepeaterPauseMs}; }

}  // namespace demodctl
