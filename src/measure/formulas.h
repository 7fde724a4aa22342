// The formulas of the six measurements: pure functions of the register bytes, no bus access.
// Intermediate values are doubles; a figure the chip's software keeps in single precision is
// narrowed to float where the comment says so, and real-to-integer conversions truncate toward 0.
#pragma once

#include <cstdint>

namespace demodctl {

// --- sig_str: registers 0x37 (AGC level bits 7..0) and 0x38 (bit 7 ready, bits 3..0 level
// bits 11..8; bits 6..4 ignored).
// The 12-bit AGC level: 0x37 whole, 0x38's bits 3..0 above it.
int32_t agc_level(uint8_t agc_low, uint8_t agc_high);
// Input level in dBm for a 12-bit AGC level (values outside 0..4095 follow the end rows).
float agc_to_dbm(int32_t agc);
// The printed strength of an input level: whole dBm (floored at -90) plus 90, capped at 100.
int32_t strength_of_level(float level_dbm);
// The same from the two registers.
int32_t signal_strength(uint8_t agc_low, uint8_t agc_high);

// --- cn_read: registers 0x7F (bit 7 valid, bits 6..0 noise bits 14..8) and 0x7E (bits 7..0).
inline constexpr float kNoCnEstimate = -10.0f;
// C/N in dB, or kNoCnEstimate when the valid flag is clear. A noise value of 0 gives +infinity.
float carrier_to_noise_db(uint8_t noise_high, uint8_t noise_low);

// --- ber_calc: error count 0x84 (low) / 0x85 (high), window exponent 0x83 bits 6..4, and the mode
// register of the branch: 0x5C on DVB-S2 (lock status bit 3 set), 0x8E on DVB-S / DirecTV.
// LDPC uncoded block length in bits for register 0x5C (MODCOD bits 7..2, short frame bit 1).
uint32_t ldpc_block_bits(uint8_t pls);
double bit_error_rate(bool dvbs2, uint8_t count_low, uint8_t count_high, uint8_t window_reg,
                      uint8_t mode_reg);

// --- lock_time: five acquisition time fields packed into 0x29..0x2B.
int32_t lock_time_ms(uint8_t b0, uint8_t b1, uint8_t b2);

// --- carrier_err, symbol_err: the reference fc (kHz) at 0x23 (low) .. 0x25 (high), and a signed
// offset register pair (0x4E/0x4F carrier, 0x4C/0x4D symbol rate), low byte first.
uint32_t reference_khz(uint8_t low, uint8_t mid, uint8_t high);

struct Offset {
  int32_t fraction;   // the pair as 16-bit two's complement
  double khz;         // fc x fraction / 2^17 (carrier) or / 2^22 (symbol rate)
  int32_t whole_khz;  // khz truncated toward zero: the printed value
};
Offset carrier_offset(uint32_t fc_khz, uint8_t low, uint8_t high);
Offset symbol_rate_offset(uint32_t fc_khz, uint8_t low, uint8_t high);

}  // namespace demodctl
