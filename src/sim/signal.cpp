#include "sim/signal.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace demodctl::sim {
namespace {

// What only a locked demodulator fills in: lock time, lock status, offsets, mode, noise, errors.
// Their registers are cleared whole.
constexpr Field kLockedOnly[] = {reg::lock_times,     reg::lock_status,  reg::symbol_offset,
                                 reg::carrier_offset, reg::modcod,       reg::noise_low,
                                 reg::noise_high,     reg::ber_window,   reg::error_count,
                                 reg::fec_code_rate,  reg::vcm_constant, reg::rolloff};
constexpr uint8_t kLockedDvbs2 = reg::lock_status.mask();  // all six flags; sync also says DVB-S2
constexpr auto kLockedDvbs = static_cast<uint8_t>(reg::lock_status.mask() & ~reg::lock_sync.mask());

// The chip's AGC curve: input level in dBm = base - slope x (agc - anchor) from `from` on,
// -10 dBm below 1000. Not monotonic, so it is inverted by search.
struct AgcSegment {
  int from;
  double base, slope;
  int anchor;
};
constexpr AgcSegment kAgcCurve[] = {
    {1000, -40.0, 0.05, 1600},
    {1600, -60.0, 0.033, 2200},
    {2200, -80.0, 0.025, 3000},
    {3000, -90.0, 0.01, 4095},
};
constexpr int kAgcLevels = 4096;

double agc_dbm(int agc) {
  double level = -10.0;
  for (const AgcSegment& s : kAgcCurve) {
    if (agc >= s.from) level = s.base - s.slope * (agc - s.anchor);
  }
  return level;
}

// The AGC level whose input level is nearest to power_dbm (the lowest such level).
int agc_level(double power_dbm) {
  int best = 0;
  for (int agc = 1; agc < kAgcLevels; ++agc) {
    if (std::fabs(agc_dbm(agc) - power_dbm) < std::fabs(agc_dbm(best) - power_dbm)) best = agc;
  }
  return best;
}

// Bits in one error-count window. DVB-S2: the LDPC uncoded block (Kldpc by code rate and frame
// size; 58320 where the standard has none) times the window's frames; DVB-S / DirecTV: the
// 204- or 146-byte packet times 16 x 4^W packets.
double window_bits(const Signal& s) {
  if (s.standard != Standard::dvbs2) {
    const double packet = s.standard == Standard::directv ? 146 * 8 : 204 * 8;
    return packet * 16.0 * std::pow(4.0, s.ber_window);
  }
  constexpr uint32_t kNormal[] = {16200, 21600, 25920, 32400, 38880, 43200,
                                  48600, 51840, 54000, 57600, 58320};
  constexpr uint32_t kShort[] = {3240, 5400, 6480, 7200, 9720, 10800, 11880, 12600, 13320, 14400};
  // Code rate index (into the rows above) of MODCODs 1..28.
  constexpr uint8_t kRate[] = {0, 1, 2,  3, 4, 5, 6, 7, 8,  9, 10, 4, 5, 6,
                               8, 9, 10, 5, 6, 7, 8, 9, 10, 6, 7,  8, 9, 10};
  constexpr uint32_t kFrames[] = {4, 16, 128, 256, 2048, 4096, 32768, 65535};
  uint32_t block = 58320;
  if (s.modcod >= 1 && s.modcod <= std::size(kRate)) {
    const uint8_t rate = kRate[s.modcod - 1];
    if (!s.short_frame) {
      block = kNormal[rate];
    } else if (rate < std::size(kShort)) {
      block = kShort[rate];
    }
  }
  return static_cast<double>(block) * kFrames[s.ber_window & 0x07];
}

// The five lock-time fields (4, 4, 4, 6, 6 bits, in 10 ms units) packed from bit 0 of
// 0x29..0x2B; the time is spread over them evenly, each up to its width.
void put_lock_time(uint32_t ms, RegisterFile& r) {
  constexpr uint32_t kShift[] = {0, 4, 8, 12, 18};
  constexpr uint32_t kMax[] = {15, 15, 15, 63, 63};
  uint32_t fields[5] = {};
  uint32_t left = (std::min<uint32_t>(ms, 1710) + 5) / 10;  // at most 171, the fields' sum
  while (left > 0) {
    for (size_t i = 0; i < 5 && left > 0; ++i) {
      if (fields[i] < kMax[i]) {
        ++fields[i];
        --left;
      }
    }
  }
  uint32_t word = 0;
  for (size_t i = 0; i < 5; ++i) word |= fields[i] << kShift[i];
  for (uint8_t i = 0; i < 3; ++i)
    r[reg::lock_times.reg + i] = static_cast<uint8_t>(word >> (8 * i));
}

// value rounded and clamped to [lo, hi].
int32_t clamped(double value, int32_t lo, int32_t hi) {
  return static_cast<int32_t>(std::clamp(std::round(value), double(lo), double(hi)));
}

void put16(RegisterFile& r, uint8_t first, int32_t value) {
  r[first] = static_cast<uint8_t>(value & 0xFF);
  r[first + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

// An offset in kHz as the signed 16-bit fraction O the demodulator reports (khz = fc x O / scale),
// rounded away from zero: while one step is below 1 kHz, a whole number of kHz reads back as
// itself once the tool truncates.
int32_t offset_fraction(double khz, uint32_t fc_khz, double scale) {
  if (fc_khz == 0) return 0;
  const double fraction = khz * scale / fc_khz;
  return clamped(std::copysign(std::ceil(std::fabs(fraction)), fraction), -32768, 32767);
}

}  // namespace

void apply_signal(const Signal& s, RegisterFile& r) {
  const int agc = agc_level(s.power_dbm);
  r[reg::agc_level.reg] = static_cast<uint8_t>(agc & 0xFF);
  r[reg::agc_ready.reg] = static_cast<uint8_t>(reg::agc_ready.mask() | (agc >> 8));
  const uint32_t fc = std::min<uint32_t>(s.fc_khz, 0xFFFFFF);
  for (uint8_t i = 0; i < 3; ++i)
    r[reg::reference_khz.reg + i] = static_cast<uint8_t>(fc >> (8 * i));

  for (const Field& field : kLockedOnly) {
    for (std::size_t i = 0; i < field.bytes(); ++i) r[field.reg + i] = 0;
  }
  if (!s.locked) return;

  const bool dvbs2 = s.standard == Standard::dvbs2;
  r[reg::lock_status.reg] = dvbs2 ? kLockedDvbs2 : kLockedDvbs;
  if (dvbs2) {
    r[reg::vcm_constant.reg] = reg::vcm_constant.mask();
    uint8_t pls = reg::modcod.put(0, s.modcod);
    pls = reg::short_frame.put(pls, s.short_frame ? 1 : 0);
    r[reg::modcod.reg] = reg::pilots.put(pls, s.pilots ? 1 : 0);
    r[reg::rolloff.reg] = reg::rolloff.put(0, s.roll_off);
  } else {
    const uint8_t rate = reg::fec_code_rate.put(0, s.code_rate);
    r[reg::fec_code_rate.reg] = reg::fec_directv.put(rate, s.standard == Standard::directv ? 1 : 0);
  }
  // C/N = 10 log10(8192 / N): N = 8192 / 10^(C/N / 10), at least 1, at most 15 bits.
  const int32_t noise = clamped(8192.0 / std::pow(10.0, s.cn_db / 10.0), 1, 0x7FFF);
  put16(r, reg::noise_low.reg, noise);
  r[reg::noise_valid.reg] |= reg::noise_valid.mask();
  put16(r, reg::error_count.reg, clamped(s.ber * window_bits(s), 0, 0xFFFF));
  r[reg::ber_window.reg] = reg::ber_window.put(0, s.ber_window);
  put_lock_time(s.lock_time_ms, r);
  put16(r, reg::carrier_offset.reg, offset_fraction(s.carrier_offset_khz, fc, 131072.0));
  put16(r, reg::symbol_offset.reg, offset_fraction(s.symbol_rate_offset_khz, fc, 4194304.0));
}

}  // namespace demodctl::sim
