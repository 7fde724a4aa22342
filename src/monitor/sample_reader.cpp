#include "monitor/sample_reader.h"

#include <vector>

#include "demod/mode_report.h"
#include "measure/decimal.h"
#include "measure/measurements.h"
#include "measure/mode_after_ber.h"

namespace demodctl::monitor {
namespace {

// The bytes the JSON line shows for a register.
void record(BoardSample& s, uint8_t reg, std::vector<uint8_t> bytes) {
  s.registers.emplace_back(reg, std::move(bytes));
}

// A refused read ends the sample: the board counts as disconnected, with what failed.
template <typename T>
bool failed(BoardSample& s, const Result<T>& result, const char* what) {
  if (result) return false;
  s.connected = false;
  s.failure = std::string(what) + " read failed";
  return true;
}

}  // namespace

// The lock status is read once, first, and every measurement that depends on it takes that byte;
// the mode report takes the mode register the BER read, the symbol rate offset the carrier
// offset's fc. So each register is read once per sample.
void read_sample(BoardBus& bus, BoardSample& s) {
  s.connected = true;
  const Result<uint8_t> lock = demod_read_reg(bus, reg::lock_status.reg);
  if (failed(s, lock, "lock status")) return;
  const uint8_t status = *lock;
  s.lock_status = status;
  record(s, reg::lock_status.reg, {status});

  const Result<StrengthReading> strength = read_signal_strength(bus);
  if (failed(s, strength, "strength")) return;
  record(s, reg::agc_level.reg, {strength->agc[0], strength->agc[1]});
  s.strength_dbm = as_decimal(strength->level_dbm);

  const Result<CnReading> cn = read_carrier_to_noise(bus);
  if (failed(s, cn, "C/N")) return;
  record(s, reg::noise_low.reg, {cn->noise_low, cn->noise_high});
  if (cn->figure) s.cn_db = as_decimal(cn->cn_db);

  const Result<BerReading> ber = read_bit_error_rate(bus, status);
  if (failed(s, ber, "BER")) return;
  if (ber->figure) {
    record(s, reg::error_count.reg, {ber->error_count[0], ber->error_count[1]});
    record(s, reg::ber_window.reg, {ber->window});
    record(s, reg::lock_sync.set_in(status) ? reg::modcod.reg : reg::fec_directv.reg, {ber->mode});
    s.ber = ber->rate;
  }

  const Result<LockTimeReading> time = read_lock_time(bus, status);
  if (failed(s, time, "lock time")) return;
  if (time->figure) {
    record(s, reg::lock_times.reg, {time->times[0], time->times[1], time->times[2]});
    s.lock_time_ms = time->lock_time_ms;
  }

  const Result<OffsetReading> carrier = read_carrier_offset(bus, status);
  if (failed(s, carrier, "carrier offset")) return;
  if (carrier->figure) {
    record(s, reg::reference_khz.reg,
           {carrier->reference[0], carrier->reference[1], carrier->reference[2]});
    record(s, reg::carrier_offset.reg, {carrier->pair[0], carrier->pair[1]});
    s.carrier_offset_khz = carrier->offset.khz;
  }

  const Result<OffsetReading> symbol = read_symbol_rate_offset(bus, *carrier);
  if (failed(s, symbol, "symbol rate offset")) return;
  if (symbol->figure) {
    record(s, reg::symbol_offset.reg, {symbol->pair[0], symbol->pair[1]});
    s.symbol_offset_khz = symbol->offset.khz;
  }

  const Result<ModeReport> mode = read_mode_after_ber(bus, *ber);
  if (failed(s, mode, "mode report")) return;
  s.mode_fields = *mode;
  s.mode = mode_text(s.mode_fields);
}

}  // namespace demodctl::monitor
