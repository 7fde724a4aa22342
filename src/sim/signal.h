// The signal the simulated demodulator receives, and the register values it shows for it.
//
// A Signal is plain data: what is transmitted (standard and mode), how it arrives (input power,
// C/N, bit errors, carrier and symbol-rate offsets) and what the demodulator made of it (lock,
// lock time, its reference fc). apply_signal is a pure function from a Signal to the registers
// the measurements read; the board applies it when it is built. The defaults are the default
// board's signal (DVB-S2 8PSK 3/4, locked, about -39 dBm).
#pragma once

#include <cstdint>

#include "sim/sim_registers.h"

namespace demodctl::sim {

enum class Standard { dvbs2, dvbs, directv };

struct Signal {
  // What is transmitted.
  Standard standard = Standard::dvbs2;
  uint8_t modcod = 14;  // DVB-S2 MODCOD 0..63 (14: 8PSK 3/4)
  bool short_frame = false;
  bool pilots = true;
  uint8_t roll_off = 0;   // DVB-S2 roll-off code 0..3 (0.35, 0.25, 0.2, reserved)
  uint8_t code_rate = 2;  // DVB-S / DirecTV code-rate code 0..7 (2: DVB-S 3/4, 5: DirecTV 6/7)
  uint32_t symbol_rate_ksps = 27500;  // thousands of symbols per second, 1..100000

  // How it arrives, and what the demodulator measures. Without lock only the AGC level and fc
  // are shown; every other register below reads 0.
  bool locked = true;
  double power_dbm = -39.4;              // gives the AGC level (0x37, 0x38)
  double cn_db = 9.5;                    // noise estimate 0x7E, 0x7F
  double ber = 2.0e-4;                   // error count 0x84, 0x85 over the window ...
  uint8_t ber_window = 2;                // ... of exponent W (0x83 bits 6..4), 0..7
  uint32_t lock_time_ms = 270;           // the five time fields of 0x29..0x2B, 0..1710
  uint32_t fc_khz = 96000;               // reference 0x23..0x25, 0..2^24-1
  double carrier_offset_khz = 1250.0;    // 0x4E, 0x4F as a fraction of fc / 4
  double symbol_rate_offset_khz = -3.2;  // 0x4C, 0x4D as a fraction of fc / 128
  uint32_t agc_settle_reads = 3;         // reads of 0x37 before 0x38 shows the AGC ready flag
};

// Writes every register the signal determines (AGC, lock status, mode, noise, error count and
// window, lock time, fc, offsets); other registers are left alone. Values beyond what a
// register can hold are clamped to its range.
void apply_signal(const Signal& signal, RegisterFile& registers);

}  // namespace demodctl::sim
