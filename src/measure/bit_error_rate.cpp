// Bit error rate over the demodulator's error-count window.
#include <array>
#include <iterator>

#include "measure/formulas.h"
#include "measure/measurements.h"
#include "measure/register_reads.h"

namespace demodctl {
namespace {

constexpr uint8_t kRegErrorCount = 0x84;  // low byte, then 0x85 high byte
constexpr uint8_t kRegWindow = 0x83;      // bits 6..4: window exponent W
constexpr uint8_t kRegPls = 0x5C;         // DVB-S2: bits 7..2 MODCOD, bit 1 short frame
constexpr uint8_t kRegFecMode = 0x8E;     // DVB-S / DirecTV: bit 0 DirecTV
constexpr uint8_t kPlsShortFrame = 0x02;
constexpr uint8_t kFecDirectv = 0x01;

// DVB-S2 frames carry one LDPC block; its uncoded length Kldpc (EN 302 307) depends on the code
// rate and the frame size. Short frames have no 9/10 code, and MODCODs outside 1..28 none at
// all: those count as 58320 bits.
struct BlockBits {
  uint32_t normal;
  uint32_t short_frame;
};
enum Rate : uint8_t { r1_4, r1_3, r2_5, r1_2, r3_5, r2_3, r3_4, r4_5, r5_6, r8_9, r9_10, none };
constexpr BlockBits kBlockBits[] = {
    {16200, 3240},  {21600, 5400},  {25920, 6480},  {32400, 7200},  {38880, 9720},  {43200, 10800},
    {48600, 11880}, {51840, 12600}, {54000, 13320}, {57600, 14400}, {58320, 58320}, {58320, 58320},
};
constexpr Rate kModcodRate[] = {
    none,                                                                 // 0: dummy frame
    r1_4, r1_3, r2_5, r1_2, r3_5,  r2_3,  r3_4, r4_5, r5_6, r8_9, r9_10,  // 1-11 QPSK
    r3_5, r2_3, r3_4, r5_6, r8_9,  r9_10,                                 // 12-17 8PSK
    r2_3, r3_4, r4_5, r5_6, r8_9,  r9_10,                                 // 18-23 16APSK
    r3_4, r4_5, r5_6, r8_9, r9_10,                                        // 24-28 32APSK
};
// Frames in the DVB-S2 window, by W (the last is 65535, not 65536).
constexpr uint32_t kWindowFrames[] = {4, 16, 128, 256, 2048, 4096, 32768, 65535};
// DVB-S / DirecTV: one Reed-Solomon packet per frame, 204 or 146 bytes; 16 x 4^W per window.
constexpr uint32_t kDvbsPacketBits = 204 * 8;
constexpr uint32_t kDirectvPacketBits = 146 * 8;
constexpr uint32_t kWindowPacketsAtW0 = 16;

}  // namespace

uint32_t ldpc_block_bits(uint8_t pls) {
  const auto modcod = static_cast<size_t>(pls >> 2);
  const Rate rate = modcod < std::size(kModcodRate) ? kModcodRate[modcod] : none;
  return (pls & kPlsShortFrame) != 0 ? kBlockBits[rate].short_frame : kBlockBits[rate].normal;
}

// rate = errors / bits per frame / frames per window, each step in double.
double bit_error_rate(bool dvbs2, uint8_t count_low, uint8_t count_high, uint8_t window_reg,
                      uint8_t mode_reg) {
  const uint32_t errors = count_high * 256U + count_low;
  const auto w = static_cast<uint32_t>((window_reg >> 4) & 0x07);
  uint32_t frame_bits = 0;
  uint32_t frames = 0;
  if (dvbs2) {
    frame_bits = ldpc_block_bits(mode_reg);
    frames = kWindowFrames[w];
  } else {
    frame_bits = (mode_reg & kFecDirectv) != 0 ? kDirectvPacketBits : kDvbsPacketBits;
    frames = kWindowPacketsAtW0 << (2 * w);  // 16 x 4^W, exact
  }
  return ((1.0 * errors) / frame_bits) / frames;
}

// The counter is read once, as it stands: nothing is waited for.
BerReading read_bit_error_rate(Transport& bus) {
  BerReading r;
  if (!read_fec_lock(bus, r)) return r;
  if (bus.demod_read_regs(kRegErrorCount, r.error_count)) return r;
  const bool dvbs2 = (r.lock_status & kLockSync) != 0;
  std::array<uint8_t, 2> regs{};
  const bool read = read_each(bus, std::array{kRegWindow, dvbs2 ? kRegPls : kRegFecMode}, regs);
  r.window = regs[0];
  r.mode = regs[1];
  if (!read) return r;
  r.rate = bit_error_rate(dvbs2, r.error_count[0], r.error_count[1], r.window, r.mode);
  r.measured = Measured::figure;
  return r;
}

}  // namespace demodctl
