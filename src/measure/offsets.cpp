// carrier_err and symbol_err: the carrier frequency and symbol rate offsets the demodulator
// measures, as fractions of its reference fc (kHz, registers 0x23..0x25).
#include <array>

#include "cli/debug_log.h"
#include "cli/result_line.h"
#include "measure/figures.h"
#include "measure/measure_commands.h"
#include "measure/measure_frame.h"

namespace demodctl {
namespace {

constexpr std::array<uint8_t, 3> kRegReference = {0x23, 0x24, 0x25};  // low byte first
constexpr std::array<uint8_t, 2> kRegCarrierOffset = {0x4E, 0x4F};
constexpr std::array<uint8_t, 2> kRegSymbolOffset = {0x4C, 0x4D};
constexpr double kCarrierScale = 131072.0;  // 2^17: |offset| <= fc / 4
constexpr double kSymbolScale = 4194304.0;  // 2^22: |offset| <= fc / 128

// The pair as 16-bit two's complement, scaled: fc x ((1.0 x O) / scale), each step in double.
Offset scaled_offset(uint32_t fc_khz, uint8_t low, uint8_t high, double scale) {
  const int32_t raw = low | (high << 8);
  const int32_t fraction = raw < 0x8000 ? raw : raw - 0x10000;
  const double khz = fc_khz * ((1.0 * fraction) / scale);
  return {fraction, khz, static_cast<int32_t>(khz)};
}

// fc, or nothing after a refused read.
bool read_reference(Transport& bus, uint32_t& fc_khz) {
  std::array<uint8_t, 3> b{};
  if (!read_each(bus, kRegReference, b)) return false;
  fc_khz = reference_khz(b[0], b[1], b[2]);
  return true;
}

}  // namespace

uint32_t reference_khz(uint8_t low, uint8_t mid, uint8_t high) {
  return low | (mid << 8U) | (high << 16U);
}

Offset carrier_offset(uint32_t fc_khz, uint8_t low, uint8_t high) {
  return scaled_offset(fc_khz, low, high, kCarrierScale);
}

Offset symbol_rate_offset(uint32_t fc_khz, uint8_t low, uint8_t high) {
  return scaled_offset(fc_khz, low, high, kSymbolScale);
}

// Without lock the offset reads as the integer 0.
int32_t carrier_err(Transport& bus, CommandArgs) {
  return locked_measurement(
      bus, [] { print_result(kMsgOk, 0); },
      [&](uint8_t) {
        uint32_t fc = 0;
        std::array<uint8_t, 2> pair{};
        if (!read_reference(bus, fc) || !read_each(bus, kRegCarrierOffset, pair)) return false;
        print_result(kMsgOk, carrier_offset(fc, pair[0], pair[1]).whole_khz);
        return true;
      });
}

// Without lock the offset reads as the real 0.000000 and the debug log is left alone. With lock
// the working is appended to the debug log, which is closed before the result line; a log that
// cannot be opened changes nothing else. After a refused read the lines written so far stay.
int32_t symbol_err(Transport& bus, CommandArgs) {
  return locked_measurement(
      bus, [] { print_result_real(kMsgOk, 0.0); },
      [&](uint8_t) {
        debug_log_open("a");
        debug_log_banner("symbol_err begining!");
        uint32_t fc = 0;
        if (!read_reference(bus, fc)) return false;
        debug_log_printf("fc=%d\n", static_cast<int>(fc));
        std::array<uint8_t, 2> pair{};
        if (!read_each(bus, kRegSymbolOffset, pair)) return false;
        const Offset offset = symbol_rate_offset(fc, pair[0], pair[1]);
        debug_log_printf("fs_oofset=%d,fs_offset_fc=%d\n", pair[0] | (pair[1] << 8),
                         offset.fraction);
        debug_log_printf("fs_err_kHz=%f\n", offset.khz);
        debug_log_close();
        print_result(kMsgOk, offset.whole_khz);
        return true;
      });
}

}  // namespace demodctl
