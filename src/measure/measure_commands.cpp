// The six measurement commands: the connection, the reading, its one result line. A refused
// transfer ends a command with -1 at once, the connection left open (its line is already printed).
#include "measure/measure_commands.h"

#include "cli/debug_log.h"
#include "cli/result_line.h"
#include "measure/measurements.h"

namespace demodctl {
namespace {

// What the commands print when the chip gives no figure.
constexpr int32_t kAbsentStrength = 0;
constexpr double kBerNoLock = 0.5;
constexpr int32_t kLockTimeNoLock = 0;
constexpr int32_t kCarrierOffsetNoLock = 0;
constexpr double kSymbolOffsetNoLock = 0.0;  // printed as a real, 0.000000

// Open; with `identify`, check the chip's identity (an absent chip is not a failure: `absent()`
// prints its fixed line and nothing more is read); take the reading and print it; close.
// 0 after a line, -1 after a failure.
template <typename Read, typename Print, typename Absent>
int32_t measured_command(Transport& bus, bool identify, Read read, Print print, Absent absent) {
  if (bus.open_connection() != 0) return -1;
  Identity id{};
  const ChipId chip = identify ? check_chip_id(bus, id) : ChipId::present;
  if (chip == ChipId::failed) return -1;
  if (chip == ChipId::absent) {
    absent();
  } else {
    const auto reading = read(bus);
    if (reading.measured == Measured::failed) return -1;
    print(reading);
  }
  bus.close_connection();
  return 0;
}

template <typename Read, typename Print>
int32_t locked_command(Transport& bus, Read read, Print print) {
  return measured_command(bus, false, read, print, [] {});
}

// The working of symbol_err, appended to the debug log when the chip is locked: a banner, fc once
// read, the offset once computed. After a refused read the lines before it are written; a log
// that cannot be opened changes nothing else.
void log_symbol_rate_offset(const OffsetReading& r) {
  if (!fec_locked(r.lock_status)) return;
  debug_log_open("a");
  debug_log_banner("symbol_err begining!");  // "begining": the log's exact text
  if (r.has_reference) debug_log_printf("fc=%d\n", static_cast<int>(r.fc_khz));
  if (r.measured == Measured::figure) {
    debug_log_printf("fs_oofset=%d,fs_offset_fc=%d\n", r.pair[0] | (r.pair[1] << 8),
                     r.offset.fraction);
    debug_log_printf("fs_err_kHz=%f\n", r.offset.khz);
  }
  debug_log_close();
}

}  // namespace

// Polled until the AGC ready flag; an absent chip reads as strength 0 with "ok".
int32_t sig_str(Transport& bus, CommandArgs) {
  return measured_command(
      bus, true, read_signal_strength,
      [](const StrengthReading& r) { print_result(kMsgOk, r.strength); },
      [] { print_result(kMsgOk, kAbsentStrength); });
}

// An absent chip, or an estimate not yet valid, reads as -10.0 with "ok". No lock test.
int32_t cn_read(Transport& bus, CommandArgs) {
  return measured_command(
      bus, true, read_carrier_to_noise,
      [](const CnReading& r) { print_result_real(kMsgOk, static_cast<double>(r.cn_db)); },
      [] { print_result_real(kMsgOk, static_cast<double>(kNoCnEstimate)); });
}

int32_t ber_calc(Transport& bus, CommandArgs) {
  return locked_command(bus, read_bit_error_rate, [](const BerReading& r) {
    print_result_real(kMsgOk, r.measured == Measured::figure ? r.rate : kBerNoLock);
  });
}

int32_t lock_time(Transport& bus, CommandArgs) {
  return locked_command(bus, read_lock_time, [](const LockTimeReading& r) {
    print_result(kMsgOk, r.measured == Measured::figure ? r.lock_time_ms : kLockTimeNoLock);
  });
}

int32_t carrier_err(Transport& bus, CommandArgs) {
  return locked_command(bus, read_carrier_offset, [](const OffsetReading& r) {
    print_result(kMsgOk,
                 r.measured == Measured::figure ? r.offset.whole_khz : kCarrierOffsetNoLock);
  });
}

// The log is closed before the result line. Without lock it is left alone and the offset reads
// as the real 0.000000 (carrier_err prints the integer 0).
int32_t symbol_err(Transport& bus, CommandArgs) {
  if (bus.open_connection() != 0) return -1;
  const OffsetReading r = read_symbol_rate_offset(bus);
  log_symbol_rate_offset(r);
  if (r.measured == Measured::failed) return -1;
  if (r.measured == Measured::figure) {
    print_result(kMsgOk, r.offset.whole_khz);
  } else {
    print_result_real(kMsgOk, kSymbolOffsetNoLock);
  }
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
