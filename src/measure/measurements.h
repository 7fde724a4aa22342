// The six signal measurements as functions of an open connection: each reads its registers,
// computes its figure and returns both, with the state the chip was in. They open and close
// nothing and keep nothing between calls, so one connection serves any number of them (a monitor
// calls them every second); the commands print what they return.
//
// A refused transfer ends a measurement at once: nothing after it is read, and the reading says
// why (no_connection, or timeout for a flag that never came) with the bytes read before it.
#pragma once

#include <array>
#include <cstdint>

#include "bus/transport.h"
#include "demod/register_map.h"
#include "measure/formulas.h"

namespace demodctl {

enum class Measured : uint8_t {
  figure,   // every register was read and the figure stands
  no_lock,  // the chip has no figure to give: FEC not locked (0x2C bit 5 clear: nothing more is
            // read), or the C/N noise estimate not yet valid (0x7F bit 7 clear)
  no_connection,  // a transfer was refused
  timeout,        // a status flag did not come by the poll's deadline
};

// The failure a reading ended with; none for a figure or no lock.
inline Fault fault_of(Measured measured) {
  if (measured == Measured::no_connection) return Failure::no_connection;
  if (measured == Measured::timeout) return Failure::timeout;
  return {};
}

// Signal strength: 0x37..0x38 polled (read, then wait 2 ms) until the AGC ready flag, 0x38 bit 7.
struct StrengthReading {
  Measured measured = Measured::no_connection;
  std::array<uint8_t, 2> agc{};  // the last read of 0x37, 0x38
  int32_t strength = 0;          // 0..80
};
StrengthReading read_signal_strength(Transport& bus);

// Carrier-to-noise ratio: 0x7F (valid flag, noise bits 14..8), then 0x7E, both read whatever the
// flag says.
struct CnReading {
  Measured measured = Measured::no_connection;
  uint8_t noise_high = 0;  // 0x7F
  uint8_t noise_low = 0;   // 0x7E
  float cn_db = kNoCnEstimate;
};
CnReading read_carrier_to_noise(Transport& bus);

// The four below read the lock status 0x2C first and go on only with FEC lock (bit 5).
inline bool fec_locked(uint8_t lock_status) { return reg::lock_fec.set_in(lock_status); }

// Bit error rate: error count 0x84..0x85, window 0x83, then the mode register of the standard
// (0x5C on DVB-S2, lock status bit 3 set; 0x8E on DVB-S / DirecTV).
struct BerReading {
  Measured measured = Measured::no_connection;
  uint8_t lock_status = 0;
  std::array<uint8_t, 2> error_count{};  // 0x84 low, 0x85 high
  uint8_t window = 0;                    // 0x83
  uint8_t mode = 0;                      // 0x5C or 0x8E
  double rate = 0.0;
};
BerReading read_bit_error_rate(Transport& bus);

// Lock time: 0x29, 0x2A, 0x2B, one read each.
struct LockTimeReading {
  Measured measured = Measured::no_connection;
  uint8_t lock_status = 0;
  std::array<uint8_t, 3> times{};
  int32_t lock_time_ms = 0;
};
LockTimeReading read_lock_time(Transport& bus);

// Carrier and symbol rate offsets: fc from 0x23..0x25, then the offset pair (0x4E..0x4F for the
// carrier, 0x4C..0x4D for the symbol rate), one read each.
struct OffsetReading {
  Measured measured = Measured::no_connection;
  uint8_t lock_status = 0;
  bool has_reference = false;  // fc was read (also when a later read failed)
  std::array<uint8_t, 3> reference{};
  std::array<uint8_t, 2> pair{};  // low byte, high byte
  uint32_t fc_khz = 0;
  Offset offset{};
};
OffsetReading read_carrier_offset(Transport& bus);
OffsetReading read_symbol_rate_offset(Transport& bus);

}  // namespace demodctl
