// Bit error rate over the demodulator's error-count window.
#include <array>
#include <iterator>

#include "measure/formulas.h"
#include "measure/measurements.h"
#include "measure/register_reads.h"

namespace demodctl {
namespace {

// DVB-S2 frames carry one LDPC block; its uncoded length Kldpc (EN 302 307, tables 5a and 5b)
// depends on the code rate and the frame size. Short frames have no 9/10 code, and MODCODs
// outside 1..28 none at all: those count as 58320 bits.
struct BlockBits {
  uint32_t normal;
  uint32_t short_frame;
};
enum class Rate : uint8_t {
  r1_4,
  r1_3,
  r2_5,
  r1_2,
  r3_5,
  r2_3,
  r3_4,
  r4_5,
  r5_6,
  r8_9,
  r9_10,
  none
};
using enum Rate;
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
// DVB-S / DirecTV: one Reed-Solomon packet per frame; 16 x 4^W per window. A DVB-S packet is the
// RS(204,188) code word (EN 300 421, 4.4.2); DirecTV's outer code gives 146-byte packets
// (130 data bytes and 16 parity bytes).
constexpr uint32_t kBitsPerByte = 8;
constexpr uint32_t kDvbsPacketBits = 204 * kBitsPerByte;
constexpr uint32_t kDirectvPacketBits = 146 * kBitsPerByte;
// The error counter is two bytes, low first.
constexpr uint32_t kCountHighWeight = 256;
constexpr uint32_t kWindowPacketsAtW0 = 16;

}  // namespace

uint32_t ldpc_block_bits(uint8_t pls) {
  const auto modcod = static_cast<size_t>(reg::modcod.get(pls));
  const Rate rate = modcod < std::size(kModcodRate) ? kModcodRate[modcod] : none;
  const BlockBits& bits = kBlockBits[static_cast<size_t>(rate)];
  return reg::short_frame.set_in(pls) ? bits.short_frame : bits.normal;
}

// rate = errors / bits per frame / frames per window, each step in double.
double bit_error_rate(bool dvbs2, uint8_t count_low, uint8_t count_high, uint8_t window_reg,
                      uint8_t mode_reg) {
  const uint32_t errors = count_high * kCountHighWeight + count_low;
  const uint32_t w = reg::ber_window.get(window_reg);
  uint32_t frame_bits = 0;
  uint32_t frames = 0;
  if (dvbs2) {
    frame_bits = ldpc_block_bits(mode_reg);
    frames = kWindowFrames[w];
  } else {
    frame_bits = reg::fec_directv.set_in(mode_reg) ? kDirectvPacketBits : kDvbsPacketBits;
    frames = kWindowPacketsAtW0 << (2 * w);  // 16 x 4^W, exact
  }
  return ((1.0 * errors) / frame_bits) / frames;
}

// The counter is read once, as it stands: nothing is waited for.
Result<BerReading> read_bit_error_rate(BoardBus& bus, uint8_t lock_status) {
  BerReading r;
  r.lock_status = lock_status;
  if (!fec_locked(lock_status)) return r;
  if (auto done = bus.demod_read_regs(reg::error_count.reg, r.error_count); !done) {
    return done.error();
  }
  const bool dvbs2 = reg::lock_sync.set_in(r.lock_status);
  std::array<uint8_t, 2> regs{};
  const uint8_t mode_reg = dvbs2 ? reg::modcod.reg : reg::fec_directv.reg;
  if (auto done = read_each(bus, std::array{reg::ber_window.reg, mode_reg}, regs); !done) {
    return done.error();
  }
  r.window = regs[0];
  r.mode = regs[1];
  r.rate = bit_error_rate(dvbs2, r.error_count[0], r.error_count[1], r.window, r.mode);
  r.figure = true;
  return r;
}

Result<BerReading> read_bit_error_rate(BoardBus& bus) {
  return after_lock_read<BerReading>(bus, read_bit_error_rate);
}

}  // namespace demodctl
