// The USB-bridge transport: every operation is one bridge transaction or a few, on device index 0,
// with the device address byte first. A transaction the bridge reports as not done is a failure;
// only the identity read turns a chip that does not acknowledge into zeros (absent).
#pragma once

#include "bus/transport.h"
#include "bus/usbio_api.h"

namespace demodctl {

class UsbTransport : public Transport {
 public:
  UsbTransport(const I2cDevice& demod, UsbioBackend& usbio) : Transport(demod), usbio_(usbio) {}

  Result<void> open_connection() override;
  void close_connection() override;
  Result<void> demod_read_regs(uint8_t reg, std::span<uint8_t> out) override;
  Result<void> demod_write_regs(uint8_t reg, std::span<const uint8_t> data) override;
  Result<void> read_identity(uint8_t reg, Identity& id) override;
  Result<void> read_period(uint8_t reg, std::span<uint8_t> out) override;
  void set_speed(const I2cDevice& device) override;
  Result<void> device_read_regs(const I2cDevice& device, uint8_t reg,
                                std::span<uint8_t> out) override;
  Result<void> device_write_regs(const I2cDevice& device, uint8_t reg,
                                 std::span<const uint8_t> data) override;
  GateSpan gate_span() const override { return {0, 0}; }  // one opening per transfer, no pause

 private:
  // START addr+W reg  Sr addr+R out...  STOP. True when the bridge did it.
  bool read(int address, uint8_t reg, std::span<uint8_t> out);
  // START addr+W reg data...  STOP, built in a buffer of its own.
  bool write(int address, uint8_t reg, std::span<const uint8_t> data);
  Fault refused(std::string_view what, int address, uint8_t reg) const;
  UsbioBackend& usbio_;
};

}  // namespace demodctl
