// Demodulator register access over the transport TransportMode selects.
//
// Socket: one ReadregMulti/WriteregMulti call on the device's channel and
// address with one-byte register addresses; a nonzero result prints
// "err no connection,failed" with -1 and the operation fails.
// USB bridge: one transaction {address, register[, data...]} (address and
// register cut to their low 8 bits), a read in the same transaction; results
// are not examined.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "bus/i2c_device.h"

namespace demodctl {

// Reads count bytes from registers reg.. into buf (zeroed first). 0 or -1.
int demod_read_regs(int reg, uint8_t* buf, int count, const I2cDevice& dev = demod_device);
// Writes count bytes to registers reg... 0 or -1.
int demod_write_regs(int reg, const uint8_t* data, int count, const I2cDevice& dev = demod_device);
// The byte read, or 255 (the byte form of -1) after a socket failure.
uint8_t demod_read_reg(int reg, const I2cDevice& dev = demod_device);
// 0 or -1.
int demod_write_reg(int reg, uint8_t value, const I2cDevice& dev = demod_device);

// Identity bytes at 0x6C; present when byte 2 is 0x36 and byte 3 is 0x31.
inline constexpr int kRegIdentity = 0x6C;
inline constexpr int kIdentityLen = 4;
enum class ChipId { present, absent, failed };
ChipId check_chip_id(std::array<uint8_t, kIdentityLen>& identity,
                     const I2cDevice& dev = demod_device);

}  // namespace demodctl
