#include "monitor/sample_reader.h"

#include <array>
#include <charconv>
#include <vector>

#include "demod/lock_status.h"
#include "demod/mode_report.h"
#include "measure/formulas.h"
#include "measure/measurements.h"

namespace demodctl::monitor {
namespace {

// The registers each measurement reads (the first of a run).
constexpr uint8_t kRegAgc = 0x37;         // 0x37..0x38
constexpr uint8_t kRegNoiseLow = 0x7E;    // with 0x7F
constexpr uint8_t kRegErrorCount = 0x84;  // 0x84..0x85
constexpr uint8_t kRegBerWindow = 0x83;
constexpr uint8_t kRegPls = 0x5C;        // DVB-S2 mode
constexpr uint8_t kRegFecMode = 0x8E;    // DVB-S / DirecTV mode
constexpr uint8_t kRegLockTimes = 0x29;  // 0x29..0x2B
constexpr uint8_t kRegReference = 0x23;  // 0x23..0x25
constexpr uint8_t kRegCarrier = 0x4E;    // 0x4E..0x4F
constexpr uint8_t kRegSymbol = 0x4C;     // 0x4C..0x4D
// AGC level: 0x37 bits 7..0, 0x38 bits 3..0 as bits 11..8.
constexpr uint8_t kAgcHighBits = 0x0F;

void record(BoardSample& s, uint8_t reg, std::vector<uint8_t> bytes) {
  s.registers.emplace_back(reg, std::move(bytes));
}

// A single-precision figure as the double its shortest decimal names (-39.4, not
// -39.400001525878906): the float's own digits are all the chip's arithmetic knows.
double as_decimal(float value) {
  std::array<char, 32> text{};
  const auto [end, ec] = std::to_chars(text.data(), text.data() + text.size(), value);
  double decimal = value;
  if (ec == std::errc()) std::from_chars(text.data(), end, decimal);
  return decimal;
}

bool failed(BoardSample& s, Measured measured, const char* what) {
  if (!fault_of(measured)) return false;
  s.connected = false;
  s.failure = std::string(what) + " read failed";
  return true;
}

}  // namespace

std::optional<uint8_t> recorded(const BoardSample& sample, uint8_t reg) {
  for (const auto& [r, bytes] : sample.registers) {
    if (r == reg && !bytes.empty()) return bytes.front();
  }
  return std::nullopt;
}

void read_sample(Transport& bus, BoardSample& s) {
  s.connected = true;
  const auto lock = demod_read_reg(bus, kRegLockStatus);
  if (!lock) {
    s.connected = false;
    s.failure = "lock status read failed";
    return;
  }
  s.lock_status = *lock;
  record(s, kRegLockStatus, {*lock});

  const StrengthReading strength = read_signal_strength(bus);
  if (failed(s, strength.measured, "strength")) return;
  record(s, kRegAgc, {strength.agc[0], strength.agc[1]});
  const int32_t level = strength.agc[0] | (strength.agc[1] & kAgcHighBits) << 8;
  s.strength_dbm = as_decimal(agc_to_dbm(level));

  const CnReading cn = read_carrier_to_noise(bus);
  if (failed(s, cn.measured, "C/N")) return;
  record(s, kRegNoiseLow, {cn.noise_low, cn.noise_high});
  if (cn.measured == Measured::figure) s.cn_db = as_decimal(cn.cn_db);

  const BerReading ber = read_bit_error_rate(bus);
  if (failed(s, ber.measured, "BER")) return;
  if (ber.measured == Measured::figure) {
    record(s, kRegErrorCount, {ber.error_count[0], ber.error_count[1]});
    record(s, kRegBerWindow, {ber.window});
    record(s, (ber.lock_status & kLockSync) != 0 ? kRegPls : kRegFecMode, {ber.mode});
    s.ber = ber.rate;
  }

  const LockTimeReading time = read_lock_time(bus);
  if (failed(s, time.measured, "lock time")) return;
  if (time.measured == Measured::figure) {
    record(s, kRegLockTimes, {time.times[0], time.times[1], time.times[2]});
    s.lock_time_ms = time.lock_time_ms;
  }

  const OffsetReading carrier = read_carrier_offset(bus);
  if (failed(s, carrier.measured, "carrier offset")) return;
  if (carrier.measured == Measured::figure) {
    record(s, kRegReference, {carrier.reference[0], carrier.reference[1], carrier.reference[2]});
    record(s, kRegCarrier, {carrier.pair[0], carrier.pair[1]});
    s.carrier_offset_khz = carrier.offset.khz;
  }

  const OffsetReading symbol = read_symbol_rate_offset(bus);
  if (failed(s, symbol.measured, "symbol rate offset")) return;
  if (symbol.measured == Measured::figure) {
    record(s, kRegSymbol, {symbol.pair[0], symbol.pair[1]});
    s.symbol_offset_khz = symbol.offset.khz;
  }

  if (read_mode(bus, s.mode_fields)) {
    s.connected = false;
    s.failure = "mode report read failed";
    return;
  }
  s.mode = mode_text(s.mode_fields);
}

}  // namespace demodctl::monitor
