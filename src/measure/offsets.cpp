// The carrier frequency and symbol rate offsets the demodulator measures, as fractions of its
// reference fc (kHz, registers 0x23..0x25).
#include <array>

#include "measure/formulas.h"
#include "measure/measurements.h"
#include "measure/register_reads.h"

namespace demodctl {
namespace {

// Low byte first, one read each.
constexpr auto kRegReference = regs_of<reg::reference_khz.bytes()>(reg::reference_khz);
constexpr auto kRegCarrierOffset = regs_of<reg::carrier_offset.bytes()>(reg::carrier_offset);
constexpr auto kRegSymbolOffset = regs_of<reg::symbol_offset.bytes()>(reg::symbol_offset);
constexpr double kCarrierScale = 131072.0;  // 2^17: |offset| <= fc / 4
constexpr double kSymbolScale = 4194304.0;  // 2^22: |offset| <= fc / 128

// The pair as 16-bit two's complement, scaled: fc x ((1.0 x O) / scale), each step in double.
Offset scaled_offset(uint32_t fc_khz, uint8_t low, uint8_t high, double scale) {
  const int32_t raw = low | (high << 8);
  const int32_t fraction = raw < 0x8000 ? raw : raw - 0x10000;
  const double khz = fc_khz * ((1.0 * fraction) / scale);
  return {fraction, khz, static_cast<int32_t>(khz)};
}

// Without FEC lock nothing is read. With it, fc (unless `reference` gives the bytes already
// read) and then the pair, each register by a read of its own; `progress` after each step.
Result<OffsetReading> read_offset(BoardBus& bus, uint8_t lock_status,
                                  const std::array<uint8_t, 3>* reference,
                                  const std::array<uint8_t, 2>& pair_regs,
                                  Offset (*scale)(uint32_t, uint8_t, uint8_t),
                                  const OffsetProgress& progress = {}) {
  OffsetReading r;
  const auto step = [&] {
    if (progress) progress(r);
  };
  r.lock_status = lock_status;
  if (!fec_locked(lock_status)) return r;
  step();
  if (reference != nullptr) {
    r.reference = *reference;
  } else if (auto done = read_each(bus, kRegReference, r.reference); !done) {
    return done.error();
  }
  r.has_reference = true;
  r.fc_khz = reference_khz(r.reference[0], r.reference[1], r.reference[2]);
  step();
  if (auto done = read_each(bus, pair_regs, r.pair); !done) return done.error();
  r.offset = scale(r.fc_khz, r.pair[0], r.pair[1]);
  r.figure = true;
  step();
  return r;
}

// The command's form: the lock status read first.
Result<OffsetReading> read_offset_after_lock(BoardBus& bus, const std::array<uint8_t, 2>& pair_regs,
                                             Offset (*scale)(uint32_t, uint8_t, uint8_t),
                                             const OffsetProgress& progress) {
  const Result<uint8_t> status = demod_read_reg(bus, reg::lock_status.reg);
  if (!status) return status.error();
  return read_offset(bus, *status, nullptr, pair_regs, scale, progress);
}

}  // namespace

uint32_t reference_khz(uint8_t low, uint8_t mid, uint8_t high) {
  return uint32_t{low} | (uint32_t{mid} << 8U) | (uint32_t{high} << 16U);
}

Offset carrier_offset(uint32_t fc_khz, uint8_t low, uint8_t high) {
  return scaled_offset(fc_khz, low, high, kCarrierScale);
}

Offset symbol_rate_offset(uint32_t fc_khz, uint8_t low, uint8_t high) {
  return scaled_offset(fc_khz, low, high, kSymbolScale);
}

Result<OffsetReading> read_carrier_offset(BoardBus& bus, const OffsetProgress& progress) {
  return read_offset_after_lock(bus, kRegCarrierOffset, carrier_offset, progress);
}

Result<OffsetReading> read_symbol_rate_offset(BoardBus& bus, const OffsetProgress& progress) {
  return read_offset_after_lock(bus, kRegSymbolOffset, symbol_rate_offset, progress);
}

Result<OffsetReading> read_carrier_offset(BoardBus& bus, uint8_t lock_status) {
  return read_offset(bus, lock_status, nullptr, kRegCarrierOffset, carrier_offset);
}

Result<OffsetReading> read_symbol_rate_offset(BoardBus& bus, const OffsetReading& shared) {
  return read_offset(bus, shared.lock_status, shared.has_reference ? &shared.reference : nullptr,
                     kRegSymbolOffset, symbol_rate_offset);
}

}  // namespace demodctl
