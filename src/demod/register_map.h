// The demodulator's register map: every register and field the tools read or write, once, with
// its place (register, shift, width) and one line of meaning. No other file spells a register
// number or a mask of the demodulator; code reads `reg::lock_fec`, a reader finds here what it
// is, and register_map() hands the same rows to a tool that prints them.
//
// A field of more than 8 bits runs on through the following registers, low byte first (0x37 holds
// AGC level bits 7..0, 0x38 bits 11..8). Start-up sequences (chip_init, the capture window) are
// data tables of their own and keep literal register numbers for the registers named nowhere
// else, each row commented. The simulated board reads its registers and bits from here too.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace demodctl {

struct Field {
  std::string_view name;
  uint8_t reg;    // the (first) register
  uint8_t shift;  // the field's lowest bit in it
  uint8_t width;  // in bits
  std::string_view meaning;
  bool read_has_side_effects = false;  // a read takes something away (a FIFO data port)

  // Registers the field spans, reg first.
  constexpr std::size_t bytes() const { return (shift + width + 7U) / 8U; }
  // The field's bits in its (first) register.
  constexpr uint8_t mask() const {
    const unsigned bits = shift + width < 8U ? width : 8U - shift;
    return static_cast<uint8_t>(((1U << bits) - 1U) << shift);
  }
  // The field's value in a byte of its register, shifted down.
  constexpr uint8_t get(uint8_t byte) const {
    return static_cast<uint8_t>((byte & mask()) >> shift);
  }
  // True when any bit of the field is set in `byte`.
  constexpr bool set_in(uint8_t byte) const { return (byte & mask()) != 0; }
  // `byte` with the field replaced by `value` (its other bits kept).
  constexpr uint8_t put(uint8_t byte, uint8_t value) const {
    return static_cast<uint8_t>((byte & ~mask()) | ((value << shift) & mask()));
  }
};

namespace reg {

// --- Identity and control
inline constexpr Field chip_reset{"chip_reset", 0x00, 7, 1,
                                  "start-up reset pulse: acquisition stops while it is set"};
inline constexpr Field identity{"identity", 0x6C, 0, 32,
                                "chip identity, 4 bytes; bytes 2 and 3 read 0x36 0x31"};
inline constexpr Field core_reset{"core_reset", 0x2E, 0, 2,
                                  "hot reset: 1 holds the demodulator core, 3 releases it"};
inline constexpr Field repeater_open{"repeater_open", 0x2D, 0, 1,
                                     "1 opens the I2C repeater to the tuner for one transfer"};
inline constexpr Field init_done{"init_done", 0xA8, 7, 1,
                                 "last step of the start-up sequence: acquisition starts again"};
inline constexpr Field tuner_path{"tuner_path", 0x33, 1, 1,
                                  "set between the tuner's start-up and its setting"};

// --- Lock status 0x2C: the acquisition stages in chain order, one flag each
inline constexpr Field lock_status{"lock_status", 0x2C, 0, 6, "the six acquisition flags"};
inline constexpr Field lock_agc{"lock_agc", 0x2C, 0, 1, "AGC settled"};
inline constexpr Field lock_cbs{"lock_cbs", 0x2C, 1, 1, "carrier found by the blind scan"};
inline constexpr Field lock_tr{"lock_tr", 0x2C, 2, 1, "timing recovery locked"};
inline constexpr Field lock_sync{"lock_sync", 0x2C, 3, 1,
                                 "frame sync; with FEC lock, the signal is DVB-S2"};
inline constexpr Field lock_cr{"lock_cr", 0x2C, 4, 1, "carrier recovery locked"};
inline constexpr Field lock_fec{"lock_fec", 0x2C, 5, 1,
                                "FEC locked: the chain is locked end to end, the mode is known"};

// --- Transmission mode
inline constexpr Field vcm_constant{"vcm_constant", 0x97, 7, 1,
                                    "DVB-S2 constant coding: the MODCOD of 0x5C is valid"};
inline constexpr Field modcod{"modcod", 0x5C, 2, 6, "DVB-S2 MODCOD (PL signalling code)"};
inline constexpr Field short_frame{"short_frame", 0x5C, 1, 1, "DVB-S2 short FEC frame"};
inline constexpr Field pilots{"pilots", 0x5C, 0, 1, "DVB-S2 pilots on"};
inline constexpr Field rolloff{"rolloff", 0x9D, 6, 2, "DVB-S2 roll-off: 0.35, 0.25, 0.2, reserved"};
inline constexpr Field fec_directv{"fec_directv", 0x8E, 0, 1,
                                   "without DVB-S2: DirecTV when set, else DVB-S"};
inline constexpr Field fec_code_rate{"fec_code_rate", 0x8E, 1, 3, "DVB-S / DirecTV code-rate code"};

// --- Measurements
inline constexpr Field agc_level{"agc_level", 0x37, 0, 12, "AGC gain word, 12 bits"};
inline constexpr Field agc_ready{"agc_ready", 0x38, 7, 1, "the AGC level is valid"};
inline constexpr Field noise_low{"noise_low", 0x7E, 0, 8, "C/N noise estimate bits 7..0"};
inline constexpr Field noise_high{"noise_high", 0x7F, 0, 7, "C/N noise estimate bits 14..8"};
inline constexpr Field noise_valid{"noise_valid", 0x7F, 7, 1, "the noise estimate is valid"};
inline constexpr Field ber_window{"ber_window", 0x83, 4, 3,
                                  "error-count window exponent W (frames or 16 x 4^W packets)"};
inline constexpr Field error_count{"error_count", 0x84, 0, 16, "bit errors in the last window"};
inline constexpr Field lock_times{"lock_times", 0x29, 0, 24,
                                  "five acquisition time fields (4,4,4,6,6 bits) in 10 ms units"};
inline constexpr Field reference_khz{"reference_khz", 0x23, 0, 24,
                                     "reference fc of the offsets, in kHz"};
inline constexpr Field symbol_offset{"symbol_offset", 0x4C, 0, 16,
                                     "symbol-rate offset, signed, fc / 2^22 per step"};
inline constexpr Field carrier_offset{"carrier_offset", 0x4E, 0, 16,
                                      "carrier offset, signed, fc / 2^17 per step"};

// --- Capture unit
inline constexpr Field capture_format{"capture_format", 0x2F, 0, 8,
                                      "sample format: 0x7C 8-bit, 0x30 9-bit"};
inline constexpr uint8_t kCaptureEightBit = 0x7C;  // capture_format: 8-bit I/Q fields
inline constexpr uint8_t kCaptureNineBit = 0x30;   // capture_format: 9-bit I/Q fields
inline constexpr Field capture_start{"capture_start", 0xEA, 5, 1, "1 starts a capture"};
inline constexpr Field capture_done{"capture_done", 0xEA, 6, 2,
                                    "nonzero once the capture is complete"};
inline constexpr Field capture_data{
    "capture_data", 0xEF, 0, 8, "capture data port, one sample byte per read", true};

}  // namespace reg

// The lock stages in the order the chip acquires them: the name events and metrics use, the
// letter of the monitor's compact lock text, the flag.
struct LockStage {
  std::string_view name;
  char letter;
  Field flag;
};
inline constexpr std::array<LockStage, 6> kLockStages = {{
    {"AGC", 'A', reg::lock_agc},
    {"CBS", 'C', reg::lock_cbs},
    {"TR", 'T', reg::lock_tr},
    {"SYNC", 'S', reg::lock_sync},
    {"CR", 'R', reg::lock_cr},
    {"FEC", 'F', reg::lock_fec},
}};

// reg::core_reset's two values: the core held in reset, and released (acquisition restarts).
inline constexpr uint8_t kCoreHold = 1;
inline constexpr uint8_t kCoreRelease = 3;

// The chip answers the identity read with bytes 2 and 3 of reg::identity at 0x36 0x31.
constexpr bool chip_present(std::span<const uint8_t, 4> id) {
  return id[2] == 0x36 && id[3] == 0x31;
}

// A board whose tuner is wired to the bus directly (no gate in front of it) answers the identity
// read with 10 01 before the chip's 36 31.
constexpr bool tuner_wired_direct(std::span<const uint8_t, 4> id) {
  return id[0] == 0x10 && id[1] == 0x01 && chip_present(id);
}

// Every field above, in register order, for a tool that prints the map.
std::span<const Field> register_map();

}  // namespace demodctl
