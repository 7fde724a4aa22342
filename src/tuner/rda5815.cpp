// The RDA5815 satellite tuner: its start-up register set, and the frequency and filter setting.
#include "tuner/rda5815.h"

#include "bus/delay.h"
#include "tuner/tuner_bus.h"

namespace demodctl {
namespace {

// 111 writes in this order, no pause between them; a row of several bytes is one write to
// consecutive registers.
constexpr RegRow kRda5815Init[] = {
    // Power-up: register 0x04 written twice, then the first block of settings
    {0x04, {0x04}},
    {0x04, {0x05}},
    {0x1A, {0x13}},
    {0x41, {0x53}},
    {0x38, {0x9B, 0x15, 0x00, 0x00, 0x0C}},
    {0x0C, {0xE2}},
    {0x2E, {0x6F}},
    {0x72, {0x08, 0x50, 0x85}},
    {0x79, {0x05, 0x99, 0x55, 0x55}},
    // A block of thirteen settings (0x5B, 0x2F, 0x0D, 0x16 ... 0x79) ...
    {0x5B, {0x20}},
    {0x2F, {0x57}},
    {0x0D, {0x70}},
    {0x16, {0x03}},
    {0x18, {0x4B}},
    {0x30, {0xFF}},
    {0x5C, {0xFF}},
    {0x6C, {0xFF}},
    {0x6E, {0xFF}},
    {0x65, {0x00}},
    {0x70, {0x3F, 0x3F}},
    {0x72, {0x08, 0x00, 0x80, 0x07, 0x10, 0x9A}},
    {0x79, {0x04, 0xB0, 0x00, 0x00}},
    // ... and its first eleven rows once more. Nothing is merged: registers written two or three
    // times in this table are written every time, and the last value written stays.
    {0x5B, {0x20}},
    {0x2F, {0x57}},
    {0x0D, {0x70}},
    {0x16, {0x03}},
    {0x18, {0x4B}},
    {0x30, {0xFF}},
    {0x5C, {0xFF}},
    {0x6C, {0xFF}},
    {0x6E, {0xFF}},
    {0x65, {0x00}},
    {0x70, {0x3F, 0x3F}},
    // Further settings, one to four bytes each, up to 0x2A
    {0x75, {0x06, 0x40, 0x89}},
    {0x53, {0xA8}},
    {0x46, {0x21, 0x84, 0x10, 0x08}},
    {0x60, {0x80, 0x80}},
    {0x6A, {0x08, 0x63}},
    {0x69, {0xF8}},
    {0x57, {0x64}},
    {0x05, {0xAA, 0xAA}},
    {0x15, {0xAE}},
    {0x4A, {0x67, 0x77}},
    {0x4F, {0x40}},
    {0x5B, {0x20}},
    {0x16, {0x0C}},
    {0x18, {0x1C}},
    {0x30, {0x2C}},
    {0x5C, {0x3C}},
    {0x6C, {0x3C}},
    {0x6E, {0x3C}},
    {0x1B, {0x7C}},
    {0x1D, {0xBC}},
    {0x1F, {0xFC}},
    {0x21, {0xFD}},
    {0x23, {0xFD}},
    {0x25, {0xFD}},
    {0x27, {0xFE}},
    {0x29, {0xFF}},
    {0xB3, {0xFF}},
    {0xB5, {0xFF}},
    {0x17, {0xF0}},
    {0x19, {0xF0}},
    {0x31, {0xF0}},
    {0x5D, {0xF0}},
    {0x6D, {0xF1}},
    {0x6F, {0xF2}},
    {0x1C, {0xF2}},
    {0x1E, {0x32}},
    {0x20, {0x72}},
    {0x22, {0x96}},
    {0x24, {0xBA}},
    {0x26, {0xBE}},
    {0x28, {0xBE}},
    {0x2A, {0xCE}},
    // One-byte values for 0xB4 .. 0xC6, then 0xA3 .. 0xB2
    {0xB4, {0xDF}},
    {0xB6, {0x0F}},
    {0xB7, {0x4F}},
    {0xB9, {0x45}},
    {0xBB, {0x3F}},
    {0xBD, {0x3F}},
    {0xBF, {0x37}},
    {0xC1, {0x37}},
    {0xC3, {0x3F}},
    {0xC5, {0x37}},
    {0xA3, {0x3F}},
    {0xA5, {0x2E}},
    {0xA7, {0x37}},
    {0xA9, {0x3F}},
    {0xAB, {0x47}},
    {0xAD, {0x4F}},
    {0xAF, {0x47}},
    {0xB1, {0x6F}},
    {0xB8, {0x77}},
    {0xBA, {0x6F}},
    {0xBC, {0x6F}},
    {0xBE, {0x68}},
    {0xC0, {0x68}},
    {0xC2, {0x5F}},
    {0xC4, {0x68}},
    {0xC6, {0x6F}},
    {0xA4, {0x68}},
    {0xA6, {0x5F}},
    {0xA8, {0x4F}},
    {0xAA, {0x68}},
    {0xAC, {0x6F}},
    {0xAE, {0x77}},
    {0xB0, {0x6F}},
    {0xB2, {0x95}},
    // Two 15-byte blocks from 0x81 and 0x90; the tuner is given 10 ms after the last one
    {0x81,
     {0xA2, 0xA2, 0x95, 0x90, 0x8E, 0x95, 0x95, 0x95, 0x95, 0x77, 0x8A, 0x8E, 0x95, 0xA8, 0x95}},
    {0x90,
     {0x19, 0x10, 0x00, 0x10, 0x00, 0x00, 0x14, 0x00, 0x00, 0x00, 0x19, 0x28, 0x24, 0x10, 0x45},
     10},
};

constexpr int kPowerUpMs = 1;  // before the first write of the start-up

// Registers of the frequency and filter setting.
constexpr uint8_t kRegControl = 0x04;   // 0xC1 before a setting, 0xC3 after it
constexpr uint8_t kRegLoop = 0x2B;      // 0x95 before a setting, 0x97 after it
constexpr uint8_t kRegFreqWord = 0x07;  // 0x07..0x0A, most significant byte first
constexpr uint8_t kRegFilter = 0x0B;    // bit 6 set, bits 5..0 the filter code
constexpr uint8_t kFilterSet = 0x40;
constexpr int kSettleMs = 5;  // after the setting

// The bandwidth limits in kHz; above the upper bound the filter falls back to 40 MHz.
constexpr uint32_t kMinBwKhz = 4000;
constexpr uint32_t kMaxBwKhz = 45000;
constexpr uint32_t kFallbackBwKhz = 40000;
// The filter code is the low-pass corner in whole MHz: 135/200 = 0.675 of the channel bandwidth
// (half the bandwidth, 1.35 times: the occupied band of a 0.35 roll-off) plus a fixed 4 MHz.
//   code = (bw_khz x 135 / 200 + 4000) / 1000
constexpr uint32_t kCornerNum = 135;
constexpr uint32_t kCornerDen = 200;
constexpr uint32_t kCornerFloorKhz = 4000;
constexpr uint32_t kKhzPerMhz = 1000;
constexpr uint32_t kFilterCodeMask = 0x3F;  // bits 5..0 of register 0x0B
}  // namespace

// word = freq x 87381 (0x15555, about 2^22 / 48), kept to its low 32 bits: the product is taken
// in unsigned 32-bit arithmetic, so a frequency that overflows wraps instead of being undefined.
uint32_t rda5815_freq_word(int32_t freq_mhz) {
  constexpr uint32_t kWordPerMhz = 87381;
  return static_cast<uint32_t>(freq_mhz) * kWordPerMhz;
}

// bw_khz = bw x 1000 in unsigned 32 bits (a negative bandwidth is a very large number), limited:
// below 4000 it becomes 4000, above 45000 it becomes 40000. code = ((bw_khz x 135 / 200) + 4000)
// / 1000, each division dropping the remainder; its bits 5..0 go below the set bit 6.
uint8_t rda5815_filter_byte(int32_t bw_mhz) {
  uint32_t bw_khz = static_cast<uint32_t>(bw_mhz) * kKhzPerMhz;
  if (bw_khz < kMinBwKhz) {
    bw_khz = kMinBwKhz;
  } else if (bw_khz > kMaxBwKhz) {
    bw_khz = kFallbackBwKhz;
  }
  const uint32_t code = ((bw_khz * kCornerNum / kCornerDen) + kCornerFloorKhz) / kKhzPerMhz;
  return static_cast<uint8_t>(kFilterSet | (code & kFilterCodeMask));
}

Result<void> rda5815_init(TunerBus& tuner) {
  delay_ms(kPowerUpMs);
  return write_tuner_rows(tuner, kRda5815Init);
}

Result<void> rda5815_set(TunerBus& tuner, int32_t freq_mhz, int32_t bw_mhz) {
  const uint32_t word = rda5815_freq_word(freq_mhz);
  const RegRow rows[] = {
      {kRegControl, {0xC1}},
      {kRegLoop, {0x95}},
      {kRegFreqWord,
       {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
        static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)}},
      {kRegFilter, {rda5815_filter_byte(bw_mhz)}},
      {kRegControl, {0xC3}},
      {kRegLoop, {0x97}, kSettleMs},
  };
  return write_tuner_rows(tuner, rows);
}

}  // namespace demodctl
