#include "tuner/tuner0.h"

#include <cmath>

#include "tuner/tuner_bus.h"

namespace demodctl {
namespace {

// Start-up: the register set in four blocks, with the waits the chip needs after the first,
// the 0x20 and the 0x24 block.
constexpr RegRow kTuner0Init[] = {
    {0x00, {0x38, 0x00, 0x00, 0x50, 0x1F, 0xB4, 0xFD, 0x58, 0x3F, 0x82, 0x88, 0xB4}, 10},
    {0x0D, {0x40, 0x94, 0x4A}},
    {0x10,
     {0x66, 0x40, 0x80, 0x2B, 0x6A, 0x50, 0x91, 0x27, 0x8F, 0xCC, 0x21, 0x10, 0x80, 0x02, 0xF5,
      0x7F}},
    {0x20, {0x4A, 0x9B, 0xE0, 0xE0}, 20},
    {0x24, {0x36, 0x00, 0xAB, 0x97, 0xC5, 0xA8}, 20},
    {0x0C, {0xD6}},
};

constexpr uint8_t kRegSynth = 0x00;   // 0x00..0x03: integer part, fraction bits 16..9, 8..1, bit 0
constexpr uint8_t kRegFilter = 0x05;  // low 8 bits of the filter code
constexpr uint8_t kFracBit0Set = 0x50;  // register 0x03 when bit 0 of the fraction word is 1
constexpr uint8_t kFracBit0Clear = 0xD0;

// The synthesizer's reference: a 27 MHz crystal, so the divide ratio is f / 27.
constexpr double kReferenceMhz = 27.0;
// The fraction word has 17 bits: the fractional part of the ratio in units of 2^-17.
constexpr double kFracScale = 131072.0;  // 2^17
constexpr double kRoundHalfUp = 0.5;
// The filter code counts 0.211 MHz steps of the low-pass corner, which is set 1.27 times half the
// channel bandwidth: code = corner / step = 1.27 x half_bw / 0.211.
constexpr double kCornerPerHalfBw = 1.27;
constexpr double kFilterStepMhz = 0.211;
}  // namespace

// Synthesizer: ratio = f / 27 MHz, computed in double and kept in single precision, whose
// rounding shows in the fraction (1550 MHz gives 57.407405853..., not 57.407407407...).
//   frac_word = floor((ratio - floor(ratio)) x 2^17), 0 .. 131071: always from the floor
//   n         = trunc(ratio + 0.5): the ratio rounded half up, so a fraction of 0.5 or more gives
//               an integer byte one above the floor (1500 MHz: ratio 55.555557, n 56)
// Bytes: n & 0xFF, frac_word bits 16..9, bits 8..1, and 0x50 / 0xD0 for bit 0 set / clear.
std::array<uint8_t, 4> tuner0_synth_bytes(int32_t freq_mhz) {
  const auto ratio = static_cast<float>(freq_mhz / kReferenceMhz);
  const double fraction = static_cast<double>(ratio) - std::floor(static_cast<double>(ratio));
  const auto frac_word = static_cast<uint32_t>(fraction * kFracScale);
  const auto n = static_cast<int64_t>(static_cast<double>(ratio) + kRoundHalfUp);
  return {static_cast<uint8_t>(n & 0xFF), static_cast<uint8_t>((frac_word & 0x1FE00U) >> 9),
          static_cast<uint8_t>((frac_word & 0x1FEU) >> 1),
          (frac_word & 1U) != 0 ? kFracBit0Set : kFracBit0Clear};
}

// Filter code = (1.27 x half_bw) / 0.211, truncated toward zero; not limited. It goes through a
// 64-bit integer (any 32-bit bandwidth fits) and only its low 8 bits are written: half_bw 43
// gives 258, written 0x02.
uint8_t tuner0_filter_byte(int32_t half_bw_mhz) {
  const auto filter = static_cast<int64_t>((kCornerPerHalfBw * half_bw_mhz) / kFilterStepMhz);
  return static_cast<uint8_t>(filter & 0xFF);
}

Result<void> tuner0_init(TunerBus& tuner) { return write_tuner_rows(tuner, kTuner0Init); }

// The 0x24 block and 0x0C again, then the synthesizer, the filter and 0x25, each given 10 ms.
Result<void> tuner0_set(TunerBus& tuner, int32_t freq_mhz, int32_t half_bw_mhz) {
  const auto synth = tuner0_synth_bytes(freq_mhz);
  const RegRow rows[] = {
      {0x24, {0x36, 0x00, 0xAB, 0x97, 0xC5, 0xA8}, 20},
      {0x0C, {0xD6}, 10},
      {kRegSynth, {synth[0], synth[1], synth[2], synth[3]}, 10},
      {kRegFilter, {tuner0_filter_byte(half_bw_mhz)}, 10},
      {0x25, {0x06}, 10},
      {0x0C, {0xD6}},
  };
  return write_tuner_rows(tuner, rows);
}

}  // namespace demodctl
