#include "bus/tuner_regs.h"

#include <cstring>
#include <vector>

#include "bus/calc_api.h"
#include "bus/delay.h"
#include "bus/demod_regs.h"
#include "bus/transport_values.h"
#include "bus/usbio_api.h"

namespace demodctl {
namespace {

// USB bridge: START demod+W 0x2D 0x01 STOP, the repeater opening as its own transaction.
void usb_open_repeater(const I2cDevice& demod, std::vector<uint8_t>& buffer) {
  buffer[0] = low8(demod.address);
  buffer[1] = low8(kRegRepeater);
  buffer[2] = kRepeaterOpen;
  uint8_t unused = 0;
  USBIO_StreamI2C(kBridgeIndex, 3, buffer.data(), 0, &unused);
}

}  // namespace

int tuner_write_regs(int reg, const uint8_t* data, int count, const I2cDevice& tuner,
                     const I2cDevice& demod, uint8_t direct) {
  if (count < 1) return 0;
  if (TransportMode != 0) {
    if (direct != 0) {
      WriteregMulti(tuner.channel, tuner.address, reg, kRegAddrLen, data, count);
      return 0;
    }
    // Through the repeater: one byte per opening, on the demodulator's channel.
    for (int i = 0; i < count; ++i) {
      demod_write_reg(kRegRepeater, kRepeaterOpen, demod);  // a failure prints its line, goes on
      WriteregMulti(demod.channel, tuner.address, reg + i, kRegAddrLen, &data[i], 1);
      delay_ms(kRepeaterPauseMs);
    }
    return 0;
  }
  // USB bridge: [repeater opening], then START tuner+W reg data... STOP.
  std::vector<uint8_t> buffer(static_cast<size_t>(count) + 2);
  if (direct == 0) usb_open_repeater(demod, buffer);
  buffer[0] = low8(tuner.address);
  buffer[1] = low8(reg);
  std::memcpy(buffer.data() + 2, data, static_cast<size_t>(count));
  uint8_t unused = 0;
  USBIO_StreamI2C(kBridgeIndex, count + 2, buffer.data(), 0, &unused);
  return 0;
}

int tuner_read_regs(int reg, uint8_t* buf, int count, const I2cDevice& tuner,
                    const I2cDevice& demod, uint8_t direct) {
  if (count < 1) return 0;
  std::memset(buf, 0, static_cast<size_t>(count));
  if (TransportMode != 0) {
    if (direct != 0) {
      ReadregMulti(tuner.channel, tuner.address, reg, kRegAddrLen, buf, count);
      return 0;
    }
    for (int i = 0; i < count; ++i) {
      demod_write_reg(kRegRepeater, kRepeaterOpen, demod);
      uint8_t byte = 0;
      ReadregMulti(demod.channel, tuner.address, reg + i, kRegAddrLen, &byte, 1);
      buf[i] = byte;
      delay_ms(kRepeaterPauseMs);
    }
    return 0;
  }
  std::vector<uint8_t> buffer(3);
  if (direct == 0) usb_open_repeater(demod, buffer);
  // START tuner+W reg  Sr tuner+R buf[0..count-1]  STOP
  const uint8_t header[2] = {low8(tuner.address), low8(reg)};
  USBIO_StreamI2C(kBridgeIndex, 2, header, count, buf);
  return 0;
}

}  // namespace demodctl
