// Carrier-to-noise ratio from the demodulator's noise estimate.
#include <cmath>

#include "measure/formulas.h"
#include "measure/measurements.h"

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

// The low byte is read even when the estimate is not valid. No lock test.
CnReading read_carrier_to_noise(Transport& bus) {
  CnReading r;
  const auto high = demod_read_reg(bus, kRegNoiseHigh);
  if (!high) return r;
  r.noise_high = *high;
  const auto low = demod_read_reg(bus, kRegNoiseLow);
  if (!low) return r;
  r.noise_low = *low;
  r.cn_db = carrier_to_noise_db(r.noise_high, r.noise_low);
  r.measured = (r.noise_high & kNoiseValid) != 0 ? Measured::figure : Measured::no_lock;
  return r;
}

}  // namespace demodctl
