// The six signal measurements as functions of an open connection: each reads its registers,
// computes its figure and returns both, with the state the chip was in. They open and close
// nothing and keep nothing between calls, so one connection serves any number of them (a monitor
// calls them every second); the commands print what they return.
//
// A refused transfer ends a measurement at once: nothing after it is read, and the Result is the
// fault (with its cause; a timeout for a flag that never came). A reading that went through says
// whether the chip had a figure to give (`figure`): without FEC lock (reg::lock_fec clear)
// nothing more is read, and a C/N estimate may not be valid yet (reg::noise_valid clear).
//
// The four that depend on the lock status have a second form that takes it already read: a
// monitor reads 0x2C once per sample and hands the same byte to each, while a command reads it
// itself, first, as its register sequence has always begun.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "bus/board_bus.h"
#include "demod/register_map.h"
#include "measure/formulas.h"

namespace demodctl {

// Signal strength: 0x37..0x38 polled (read, then wait 2 ms) until the AGC ready flag, 0x38 bit 7.
struct StrengthReading {
  std::array<uint8_t, 2> agc{};  // the last read of 0x37, 0x38
  float level_dbm = 0.0f;        // the input level the AGC word stands for
  int32_t strength = 0;          // 0..80
};
Result<StrengthReading> read_signal_strength(BoardBus& bus);

// Carrier-to-noise ratio: 0x7F (valid flag, noise bits 14..8), then 0x7E, both read whatever the
// flag says.
struct CnReading {
  bool figure = false;     // the estimate is valid
  uint8_t noise_high = 0;  // 0x7F
  uint8_t noise_low = 0;   // 0x7E
  float cn_db = kNoCnEstimate;
};
Result<CnReading> read_carrier_to_noise(BoardBus& bus);

// The four below go on only with FEC lock (bit 5 of the lock status 0x2C).
inline bool fec_locked(uint8_t lock_status) { return reg::lock_fec.set_in(lock_status); }

// Bit error rate: error count 0x84..0x85, window 0x83, then the mode register of the standard
// (0x5C on DVB-S2, lock status bit 3 set; 0x8E on DVB-S / DirecTV).
struct BerReading {
  bool figure = false;  // FEC locked and every register read
  uint8_t lock_status = 0;
  std::array<uint8_t, 2> error_count{};  // 0x84 low, 0x85 high
  uint8_t window = 0;                    // 0x83
  uint8_t mode = 0;                      // 0x5C or 0x8E
  double rate = 0.0;
};
Result<BerReading> read_bit_error_rate(BoardBus& bus);
Result<BerReading> read_bit_error_rate(BoardBus& bus, uint8_t lock_status);

// Lock time: 0x29, 0x2A, 0x2B, one read each.
struct LockTimeReading {
  bool figure = false;  // FEC locked and every register read
  uint8_t lock_status = 0;
  std::array<uint8_t, 3> times{};
  int32_t lock_time_ms = 0;
};
Result<LockTimeReading> read_lock_time(BoardBus& bus);
Result<LockTimeReading> read_lock_time(BoardBus& bus, uint8_t lock_status);

// Carrier and symbol rate offsets: fc from 0x23..0x25, then the offset pair (0x4E..0x4F for the
// carrier, 0x4C..0x4D for the symbol rate), one read each.
struct OffsetReading {
  bool figure = false;  // FEC locked and every register read
  uint8_t lock_status = 0;
  bool has_reference = false;  // fc was read
  std::array<uint8_t, 3> reference{};
  std::array<uint8_t, 2> pair{};  // low byte, high byte
  uint32_t fc_khz = 0;
  Offset offset{};
};
// `progress`, when given, sees the reading after each step that went through with FEC lock (the
// lock status, fc, the offset), so a log can show how far a reading came before a refused read.
using OffsetProgress = std::function<void(const OffsetReading&)>;
Result<OffsetReading> read_carrier_offset(BoardBus& bus, const OffsetProgress& progress = {});
Result<OffsetReading> read_symbol_rate_offset(BoardBus& bus, const OffsetProgress& progress = {});
Result<OffsetReading> read_carrier_offset(BoardBus& bus, uint8_t lock_status);
// The symbol rate offset on the lock status and fc of `shared`, an offset reading of the same
// moment (a carrier offset read just before): fc is read again only if `shared` has none.
Result<OffsetReading> read_symbol_rate_offset(BoardBus& bus, const OffsetReading& shared);

}  // namespace demodctl
