// The six measurement commands: the reading on the open connection, as the outcome of the
// command. A refused transfer (or a flag that never came) is the outcome.
#include "measure/measure_commands.h"

#include "debug_log/debug_log.h"
#include "measure/measurements.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

// What the commands print when the chip gives no figure.
constexpr double kBerNoLock = 0.5;
constexpr int32_t kLockTimeNoLock = 0;
constexpr int32_t kCarrierOffsetNoLock = 0;
constexpr double kSymbolOffsetNoLock = 0.0;  // printed as a real, 0.000000

// The reading's fault, or "ok" with the value `value_of` gives it.
template <typename Reading, typename Value>
Outcome reply_of(const Result<Reading>& reading, Value (*value_of)(const Reading&)) {
  if (!reading) return reading.error();
  return Reply{kMsgOk, value_of(*reading)};
}

// The working of symbol_err, appended to the debug log when the chip is locked: a banner, fc once
// read, the offset once computed, each as the reading gets that far. After a refused read the
// lines before it are written; a log that cannot be opened changes nothing else.
class SymbolRateLog {
 public:
  SymbolRateLog(DebugLog& log, bool verbose) : log_(log), verbose_(verbose) {}
  ~SymbolRateLog() {
    if (open_) log_.close();  // written out before the result line
  }
  SymbolRateLog(const SymbolRateLog&) = delete;
  SymbolRateLog& operator=(const SymbolRateLog&) = delete;
  void step(const OffsetReading& r) {
    if (!open_) {
      open_ = true;
      log_.open(DebugLog::Start::append, verbose_);
      log_.banner("symbol_err begining!");  // "begining": the log's exact text
      return;
    }
    if (r.figure) {
      // "fs_oofset": the log's exact text
      log_.printf("fs_oofset=%d,fs_offset_fc=%d\n", r.pair[0] | (r.pair[1] << 8),
                  r.offset.fraction);
      log_.printf("fs_err_kHz=%f\n", r.offset.khz);
    } else if (r.has_reference) {
      log_.printf("fc=%d\n", static_cast<int>(r.fc_khz));
    }
  }

 private:
  DebugLog& log_;  // the run's, closed by the runner
  bool verbose_;
  bool open_ = false;
};

}  // namespace

// Polled until the AGC ready flag. The identity is checked first (an absent chip has its row's
// reply).
Outcome sig_str(BoardBus& bus) {
  return reply_of(
      read_signal_strength(bus), +[](const StrengthReading& r) { return r.strength; });
}

// An estimate not yet valid reads as -10.0 (as does an absent chip). No lock test.
Outcome cn_read(BoardBus& bus) {
  return reply_of(
      read_carrier_to_noise(bus), +[](const CnReading& r) { return static_cast<double>(r.cn_db); });
}

Outcome ber_calc(BoardBus& bus) {
  return reply_of(
      read_bit_error_rate(bus),
      +[](const BerReading& r) { return r.figure ? r.rate : kBerNoLock; });
}

Outcome lock_time(BoardBus& bus) {
  return reply_of(
      read_lock_time(bus),
      +[](const LockTimeReading& r) { return r.figure ? r.lock_time_ms : kLockTimeNoLock; });
}

Outcome carrier_err(BoardBus& bus) {
  return reply_of(
      read_carrier_offset(bus),
      +[](const OffsetReading& r) { return r.figure ? r.offset.whole_khz : kCarrierOffsetNoLock; });
}

// The log is written (and closed) before the outcome is returned. Without lock it is left alone
// and the offset reads as the real 0.000000 (carrier_err prints the integer 0).
Outcome symbol_err(BoardBus& bus, DebugLog& log, bool verbose) {
  Result<OffsetReading> r = [&bus, &log, verbose] {
    SymbolRateLog working(log, verbose);
    return read_symbol_rate_offset(bus,
                                   [&working](const OffsetReading& step) { working.step(step); });
  }();
  if (!r) return r.error();
  if (r->figure) return Reply{kMsgOk, r->offset.whole_khz};
  return Reply{kMsgOk, kSymbolOffsetNoLock};
}

}  // namespace demodctl
