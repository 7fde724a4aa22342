#include "bus/demod_regs.h"

#include <cstring>
#include <vector>

#include "bus/calc_api.h"
#include "bus/transport_values.h"
#include "bus/usbio_api.h"
#include "cli/result_line.h"

namespace demodctl {
namespace {

bool socket_mode() { return TransportMode != 0; }

int socket_failure() {
  print_result(kMsgNoConnection, -1);
  return -1;
}

}  // namespace

int demod_read_regs(int reg, uint8_t* buf, int count, const I2cDevice& dev) {
  std::memset(buf, 0, static_cast<size_t>(count));
  if (socket_mode()) {
    if (ReadregMulti(dev.channel, dev.address, reg, kRegAddrLen, buf, count) != 0) {
      return socket_failure();
    }
    return 0;
  }
  // START addr+W reg  Sr addr+R buf[0..count-1]  STOP
  const uint8_t header[2] = {low8(dev.address), low8(reg)};
  USBIO_StreamI2C(kBridgeIndex, 2, header, count, buf);
  return 0;
}

int demod_write_regs(int reg, const uint8_t* data, int count, const I2cDevice& dev) {
  if (socket_mode()) {
    if (WriteregMulti(dev.channel, dev.address, reg, kRegAddrLen, data, count) != 0) {
      return socket_failure();
    }
    return 0;
  }
  // START addr+W reg data[0] .. data[count-1]  STOP, built in a buffer of its own.
  std::vector<uint8_t> scratch(static_cast<size_t>(count) + 2);
  scratch[0] = low8(dev.address);
  scratch[1] = low8(reg);
  if (count > 0) std::memcpy(scratch.data() + 2, data, static_cast<size_t>(count));
  uint8_t unused = 0;
  USBIO_StreamI2C(kBridgeIndex, count + 2, scratch.data(), 0, &unused);
  return 0;
}

uint8_t demod_read_reg(int reg, const I2cDevice& dev) {
  uint8_t value = 0;
  if (socket_mode()) {
    if (ReadregMulti(dev.channel, dev.address, reg, kRegAddrLen, &value, 1) != 0) {
      socket_failure();
      return 0xFF;
    }
    return value;
  }
  const uint8_t header[2] = {low8(dev.address), low8(reg)};
  USBIO_StreamI2C(kBridgeIndex, 2, header, 1, &value);
  return value;
}

int demod_write_reg(int reg, uint8_t value, const I2cDevice& dev) {
  if (socket_mode()) {
    if (WriteregMulti(dev.channel, dev.address, reg, kRegAddrLen, &value, 1) != 0) {
      return socket_failure();
    }
    return 0;
  }
  const uint8_t bytes[3] = {low8(dev.address), low8(reg), value};
  uint8_t unused = 0;
  USBIO_StreamI2C(kBridgeIndex, 3, bytes, 0, &unused);
  return 0;
}

ChipId check_chip_id(std::array<uint8_t, kIdentityLen>& identity, const I2cDevice& dev) {
  if (demod_read_regs(kRegIdentity, identity.data(), kIdentityLen, dev) != 0) {
    return ChipId::failed;
  }
  return identity[2] == 0x36 && identity[3] == 0x31 ? ChipId::present : ChipId::absent;
}

}  // namespace demodctl
