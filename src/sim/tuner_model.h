// The tuner as the simulated board sees it, and the transponders it can be tuned to.
//
// The board reads the tuned frequency and filter bandwidth back out of the tuner's registers (the
// drivers' arithmetic undone) and receives the transponder whose capture range holds that
// frequency. Everything here is a pure function of its arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "sim/signal.h"
#include "sim/sim_registers.h"

namespace demodctl::sim {

enum class TunerType { rda5815, type0 };

struct Tuning {
  uint32_t frequency_khz = 0;
  uint32_t bandwidth_khz = 0;  // the filter's, as its coarse code stands for it
  bool operator==(const Tuning&) const = default;
};

// What the tuner's registers hold; nothing while the tuner is not tuned:
//   RDA5815: tuned once its setting has ended (0x04 = 0xC3 and 0x2B = 0x97). f = word / 87381 MHz
//     with the big-endian word of 0x07..0x0A; bandwidth from the code c in 0x0B bits 5..0,
//     c = 0.675 x bw + 4 MHz solved for bw.
//   Type 0: tuned once 0x25 = 0x06 (the setting's last step; start-up and the setting's first row
//     leave 0x00 there). The 17-bit fraction word F is 0x01 (bits 16..9), 0x02 (bits 8..1) and
//     bit 0 set when 0x03 bit 7 is clear (0x50; 0xD0 clears it). 0x00 holds the ratio f / 27 MHz
//     rounded half up, so the integer part is 0x00 - 1 when F >= 2^16 (fraction >= 1/2), else
//     0x00; f = 27 MHz x (integer part + F / 2^17). Bandwidth = 2 x code x 0.211 / 1.27 MHz with
//     the code in 0x05.
// Frequencies and bandwidths are rounded to the kHz.
std::optional<Tuning> decode_tuning(TunerType type, const RegisterFile& registers);

struct Transponder {
  uint32_t frequency_khz = 0;
  Signal signal;  // as received when tuned exactly to frequency_khz
};

// How far from a transponder's frequency a tuning still receives it: half its symbol rate.
uint32_t capture_range_khz(const Signal& signal);

// What the demodulator receives when nothing is: no lock, the AGC at full gain (-89.85 dBm).
Signal nothing_received();

// The signal received with `tuning`: the transponder nearest to the tuned frequency among those
// whose capture range holds it (the first listed of two as near), its carrier offset moved by the
// mistuning (carrier minus tuned frequency); nothing_received() otherwise.
Signal received_signal(std::span<const Transponder> transponders,
                       const std::optional<Tuning>& tuning);

// One register value a scenario states explicitly.
struct RegisterValue {
  uint8_t reg = 0;
  uint8_t value = 0;
};

// Writes the registers `signal` determines (apply_signal), then, among those, the values the
// scenario states: stated registers win over every signal picture. Other registers are left
// alone, so what the tool wrote there stays.
void apply_reception(const Signal& signal, std::span<const RegisterValue> stated,
                     RegisterFile& registers);

}  // namespace demodctl::sim
