#include "bus/usb_transport.h"

#include <algorithm>
#include <vector>

#include "bus/transport_values.h"
#include "cli/result_line.h"

namespace demodctl {
namespace {

constexpr int kOpenFailed = -1;  // USBIO_OpenDevice's "no bridge"
constexpr int kNotDone = 0;      // USBIO_StreamI2C's "transfer failed"

}  // namespace

int UsbTransport::open_connection() {
  if (usbio_.open_device(kBridgeIndex) == kOpenFailed) {
    print_result(kMsgOpenError, -1);
    return -1;
  }
  usbio_.set_stream(kBridgeIndex, demod().speed);  // result not examined
  return 0;
}

void UsbTransport::close_connection() { usbio_.close_device(kBridgeIndex); }

// A failed read leaves zeros, never what the call may have left behind.
bool UsbTransport::read(int address, uint8_t reg, std::span<uint8_t> out) {
  const uint8_t header[] = {low8(address), reg};
  if (usbio_.stream_i2c(kBridgeIndex, sizeof header, header, static_cast<int>(out.size()),
                        out.data()) != kNotDone) {
    return true;
  }
  std::fill(out.begin(), out.end(), uint8_t{0});
  return false;
}

bool UsbTransport::write(int address, uint8_t reg, std::span<const uint8_t> data) {
  std::vector<uint8_t> scratch{low8(address), reg};
  scratch.insert(scratch.end(), data.begin(), data.end());
  uint8_t unused = 0;
  return usbio_.stream_i2c(kBridgeIndex, static_cast<int>(scratch.size()), scratch.data(), 0,
                           &unused) != kNotDone;
}

int UsbTransport::demod_read_regs(uint8_t reg, std::span<uint8_t> out) {
  return read(demod().address, reg, out) ? 0 : report_bus_failure();
}

int UsbTransport::demod_write_regs(uint8_t reg, std::span<const uint8_t> data) {
  return write(demod().address, reg, data) ? 0 : report_bus_failure();
}

int UsbTransport::read_identity(Identity& id) {
  if (read(demod().address, kRegIdentity, id)) return 0;
  // A chip that does not acknowledge is absent, not a failure: its bytes read as zeros. A
  // bridge that failed the read (unplugged, bus error) says nothing about the chip: a failure.
  if (usbio_.last_result() == I2cResult::nack) return 0;
  return report_bus_failure();
}

int UsbTransport::read_period(uint8_t reg, std::span<uint8_t> out) {
  for (size_t i = 0; i < out.size(); ++i) {
    if (!read(demod().address, reg, out.subspan(i, 1))) {
      std::fill(out.begin(), out.end(), uint8_t{0});
      return report_bus_failure();
    }
  }
  return 0;
}

void UsbTransport::set_speed(const I2cDevice&) {}

// START demod+W 0x2D 0x01 STOP, the repeater opening as a transaction of its own.
bool UsbTransport::open_repeater() {
  const uint8_t opening[] = {kRepeaterOpen};
  return write(demod().address, kRegRepeater, opening);
}

int UsbTransport::tuner_read_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                                  std::span<uint8_t> out) {
  if (!direct && !open_repeater()) return report_bus_failure();
  return read(tuner.address, reg, out) ? 0 : report_bus_failure();
}

int UsbTransport::tuner_write_regs(const I2cDevice& tuner, bool direct, uint8_t reg,
                                   std::span<const uint8_t> data) {
  if (!direct && !open_repeater()) return report_bus_failure();
  return write(tuner.address, reg, data) ? 0 : report_bus_failure();
}

}  // namespace demodctl
