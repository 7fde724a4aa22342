#include "bus/usb_transport.h"

#include <algorithm>
#include <string>
#include <vector>

namespace demodctl {
namespace {

constexpr int kBridgeIndex = 0;  // the USB bridge is always device index 0
constexpr int kOpenFailed = -1;  // USBIO_OpenDevice's "no bridge"
constexpr int kNotDone = 0;      // USBIO_StreamI2C's "transfer failed"

// Bridge transactions carry the address and register as their low 8 bits.
uint8_t low8(int v) { return static_cast<uint8_t>(v & 0xFF); }

}  // namespace

Result<void> UsbTransport::open_connection() {
  if (usbio_.open_device(kBridgeIndex) == kOpenFailed) {
    return Fault{FaultKind::open_error, "USB bridge " + std::to_string(kBridgeIndex)};
  }
  usbio_.set_stream(kBridgeIndex, demod().speed);  // result not examined
  return {};
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

// A transaction the bridge did not do: not acknowledged, or not carried at all.
Fault UsbTransport::refused(std::string_view what, int address, uint8_t reg) const {
  Fault fault = refused_transfer(what, -1, address, reg);
  const Result<void> last = usbio_.last_result();
  fault.kind =
      !last && last.error().kind == FaultKind::nack ? FaultKind::nack : FaultKind::bus_failure;
  if (!last) fault.cause += ": " + last.error().cause;
  return fault;
}

Result<void> UsbTransport::demod_read_regs(uint8_t reg, std::span<uint8_t> out) {
  if (read(demod().address, reg, out)) return {};
  return refused("read", demod().address, reg);
}

Result<void> UsbTransport::demod_write_regs(uint8_t reg, std::span<const uint8_t> data) {
  if (write(demod().address, reg, data)) return {};
  return refused("write", demod().address, reg);
}

Result<void> UsbTransport::read_identity(uint8_t reg, Identity& id) {
  if (read(demod().address, reg, id)) return {};
  // A chip that does not acknowledge is absent, not a failure: its bytes read as zeros. A
  // bridge that failed the read (unplugged, bus error) says nothing about the chip: a failure.
  if (const Result<void> last = usbio_.last_result();
      !last && last.error().kind == FaultKind::nack) {
    return {};
  }
  return refused("identity read", demod().address, reg);
}

Result<void> UsbTransport::read_period(uint8_t reg, std::span<uint8_t> out) {
  for (size_t i = 0; i < out.size(); ++i) {
    if (!read(demod().address, reg, out.subspan(i, 1))) {
      Fault fault = refused("period read", demod().address, reg);
      std::fill(out.begin(), out.end(), uint8_t{0});
      return fault;
    }
  }
  return {};
}

void UsbTransport::set_speed(const I2cDevice&) {}

Result<void> UsbTransport::device_read_regs(const I2cDevice& device, uint8_t reg,
                                            std::span<uint8_t> out) {
  if (read(device.address, reg, out)) return {};
  return refused("read", device.address, reg);
}

Result<void> UsbTransport::device_write_regs(const I2cDevice& device, uint8_t reg,
                                             std::span<const uint8_t> data) {
  if (write(device.address, reg, data)) return {};
  return refused("write", device.address, reg);
}

}  // namespace demodctl
