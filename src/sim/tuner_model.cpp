#include "sim/tuner_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace demodctl::sim {
namespace {

// RDA5815: the setting opens with 0x04 = 0xC1, 0x2B = 0x95 and closes with 0xC3, 0x97.
constexpr uint8_t kRdaControl = 0x04;
constexpr uint8_t kRdaControlSet = 0xC3;
constexpr uint8_t kRdaLoop = 0x2B;
constexpr uint8_t kRdaLoopSet = 0x97;
constexpr uint8_t kRdaFreqWord = 0x07;  // 0x07..0x0A, most significant byte first
constexpr uint8_t kRdaFilter = 0x0B;
constexpr uint8_t kRdaFilterCode = 0x3F;
constexpr double kRdaWordPerMhz = 87381.0;

// Type 0: 27 MHz reference, 17-bit fraction.
constexpr uint8_t kT0Integer = 0x00;
constexpr uint8_t kT0FracHigh = 0x01;  // fraction bits 16..9
constexpr uint8_t kT0FracLow = 0x02;   // fraction bits 8..1
constexpr uint8_t kT0FracBit0 = 0x03;  // bit 7 clear: fraction bit 0 set
constexpr uint8_t kT0Filter = 0x05;
constexpr uint8_t kT0Start = 0x25;
constexpr uint8_t kT0Started = 0x06;
constexpr uint32_t kT0FracOne = 1U << 17;
constexpr double kT0ReferenceKhz = 27000.0;

constexpr double kNothingDbm = -89.85;  // AGC level 0xFF0, full gain

uint32_t round_khz(double khz) { return static_cast<uint32_t>(std::lround(std::max(khz, 0.0))); }

Tuning rda5815_tuning(const RegisterFile& r) {
  uint32_t word = 0;
  for (uint8_t i = 0; i < 4; ++i) word = (word << 8) | r[kRdaFreqWord + i];
  const double code = r[kRdaFilter] & kRdaFilterCode;
  return {round_khz(word * 1000.0 / kRdaWordPerMhz), round_khz((code - 4.0) * 1000.0 / 0.675)};
}

Tuning type0_tuning(const RegisterFile& r) {
  const uint32_t frac = (uint32_t{r[kT0FracHigh]} << 9) | (uint32_t{r[kT0FracLow]} << 1) |
                        ((r[kT0FracBit0] & 0x80) == 0 ? 1U : 0U);
  // 0x00 holds the low 8 bits of the rounded ratio: one below it, modulo 256 as well.
  const uint32_t integer = frac >= kT0FracOne / 2 ? (r[kT0Integer] + 255U) % 256U : r[kT0Integer];
  const double ratio = integer + static_cast<double>(frac) / kT0FracOne;
  return {round_khz(kT0ReferenceKhz * ratio), round_khz(2000.0 * r[kT0Filter] * 0.211 / 1.27)};
}

}  // namespace

std::optional<Tuning> decode_tuning(TunerType type, const RegisterFile& registers) {
  if (type == TunerType::rda5815) {
    if (registers[kRdaControl] != kRdaControlSet || registers[kRdaLoop] != kRdaLoopSet) return {};
    return rda5815_tuning(registers);
  }
  if (registers[kT0Start] != kT0Started) return {};
  return type0_tuning(registers);
}

uint32_t capture_range_khz(const Signal& signal) { return signal.symbol_rate_ksps / 2; }

Signal nothing_received() {
  Signal nothing;
  nothing.locked = false;
  nothing.power_dbm = kNothingDbm;
  return nothing;
}

Signal received_signal(std::span<const Transponder> transponders,
                       const std::optional<Tuning>& tuning) {
  if (!tuning) return nothing_received();
  const Transponder* nearest = nullptr;
  int64_t nearest_offset = 0;
  for (const Transponder& t : transponders) {
    const int64_t offset = int64_t{t.frequency_khz} - tuning->frequency_khz;
    if (std::llabs(offset) > capture_range_khz(t.signal)) continue;
    if (nearest == nullptr || std::llabs(offset) < std::llabs(nearest_offset)) {
      nearest = &t;
      nearest_offset = offset;
    }
  }
  if (nearest == nullptr) return nothing_received();
  Signal received = nearest->signal;
  received.carrier_offset_khz += static_cast<double>(nearest_offset);
  return received;
}

void apply_reception(const Signal& signal, std::span<const RegisterValue> stated,
                     RegisterFile& registers) {
  // The registers apply_signal determines are those it writes whatever they held before: they
  // read alike after applying it to all-zero and to all-one registers.
  RegisterFile zeros{};
  RegisterFile ones{};
  ones.fill(0xFF);
  apply_signal(signal, zeros);
  apply_signal(signal, ones);
  apply_signal(signal, registers);
  for (const RegisterValue& s : stated) {
    if (zeros[s.reg] == ones[s.reg]) registers[s.reg] = s.value;
  }
}

}  // namespace demodctl::sim
