// cn_read: carrier-to-noise ratio from the demodulator's noise estimate.
#include <cmath>

#include "cli/result_line.h"
#include "measure/figures.h"
#include "measure/measure_commands.h"

namespace demodctl {
namespace {

constexpr uint8_t kRegNoiseHigh = 0x7F;  // bit 7: the estimate is valid
constexpr uint8_t kRegNoiseLow = 0x7E;
constexpr uint8_t kNoiseValid = 0x80;
constexpr double kNoiseAt0Db = 8192.0;

}  // namespace

// The 15-bit noise value N = (H - 128) x 256 + L is kept in single precision (exact below 2^15);
// C/N = 10 log10(8192 / N), the noise value 8192 being 0 dB, is worked out in double and the
// result narrowed to single precision: N = 1 prints 39.133900 where double would print 39.133899.
float carrier_to_noise_db(uint8_t noise_high, uint8_t noise_low) {
  if ((noise_high & kNoiseValid) == 0) return kNoCnEstimate;
  const auto noise = static_cast<float>((noise_high - 128) * 256.0 + noise_low);
  return static_cast<float>(10.0 * std::log10(kNoiseAt0Db / static_cast<double>(noise)));
}

// An absent chip, or an estimate not yet valid, reads as -10.0 with "ok". No lock test.
int32_t cn_read(Transport& bus, CommandArgs) {
  if (bus.open_connection() != 0) return -1;
  Identity id{};
  const ChipId chip = check_chip_id(bus, id);
  if (chip == ChipId::failed) return -1;
  float cn = kNoCnEstimate;
  if (chip == ChipId::present) {
    const auto high = demod_read_reg(bus, kRegNoiseHigh);
    if (!high) return -1;
    const auto low = demod_read_reg(bus, kRegNoiseLow);  // read even when the flag is clear
    if (!low) return -1;
    cn = carrier_to_noise_db(*high, *low);
  }
  print_result_real(kMsgOk, static_cast<double>(cn));
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
