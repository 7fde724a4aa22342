// Demodulator registers and bits that the simulated chip gives behaviour to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace demodctl::sim {

// The 256 registers of one device.
inline constexpr std::size_t kRegisterCount = 256;
using RegisterFile = std::array<uint8_t, kRegisterCount>;

// Default 8-bit bus addresses.
inline constexpr uint8_t kDefaultDemodAddress = 0xD0;
inline constexpr uint8_t kDefaultTunerAddress = 0xC0;

// Identity: four bytes at 0x6C..0x6F; present when bytes 2,3 are 0x36,0x31.
inline constexpr uint8_t kRegIdentity = 0x6C;
inline constexpr uint8_t kIdentityLength = 4;

// Chip control: bit 7 of 0x00 is the reset pulse of the init sequence (stops
// acquisition); bit 7 of 0xA8 is the init sequence's last step (restarts it).
inline constexpr uint8_t kRegChipControl = 0x00;
inline constexpr uint8_t kRegInitDone = 0xA8;
inline constexpr uint8_t kInitBit = 0x80;

// Lock status: bits 0..5 are AGC, CBS, timing, sync (also DVB-S2), carrier, FEC.
inline constexpr uint8_t kRegLockStatus = 0x2C;
inline constexpr uint8_t kLockStageBits = 6;
inline constexpr uint8_t kLockFlagsMask = 0x3F;

// Repeater: bit 0 of 0x2D opens it for one tuner transaction.
inline constexpr uint8_t kRegRepeater = 0x2D;
inline constexpr uint8_t kRepeaterOpenBit = 0x01;

// Hot reset: 0x01 holds the demodulator in reset, 0x03 releases it.
inline constexpr uint8_t kRegHotReset = 0x2E;
inline constexpr uint8_t kHotResetHoldBit = 0x01;
inline constexpr uint8_t kHotResetReleaseBit = 0x02;

// AGC level and the mode report registers.
inline constexpr uint8_t kRegAgcLow = 0x37;
inline constexpr uint8_t kRegAgcHigh = 0x38;  // bit 7 = AGC ready flag
inline constexpr uint8_t kAgcReadyBit = 0x80;
inline constexpr uint8_t kRegModcod = 0x5C;
inline constexpr uint8_t kRegDvbsCodeRate = 0x8E;
inline constexpr uint8_t kRegVcm = 0x97;
inline constexpr uint8_t kRegRollOff = 0x9D;

// Capture unit: writing 0xEA with bit 5 set starts a capture, bit 6 reads back
// as "capture complete"; 0xEF is the data port the samples are read from.
inline constexpr uint8_t kRegCaptureControl = 0xEA;
inline constexpr uint8_t kCaptureStartBit = 0x20;
inline constexpr uint8_t kCaptureDoneBit = 0x40;
inline constexpr uint8_t kRegCaptureData = 0xEF;

}  // namespace demodctl::sim
