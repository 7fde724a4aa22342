// Carrier-to-noise ratio from the demodulator's noise estimate.
#include <cmath>

#include "measure/formulas.h"
#include "measure/measurements.h"

namespace demodctl {
namespace {

// The chip scales its noise estimate so that 8192 is a noise power equal to the carrier's: 0 dB.
constexpr double kNoiseAt0Db = 8192.0;
// The estimate's bits 14..8 sit below the valid flag: removing the flag is subtracting its weight.
constexpr int kValidFlagWeight = 1 << 7;
constexpr double kHighByteWeight = 256.0;
constexpr double kDbPerDecade = 10.0;  // power ratio in dB

}  // namespace

// The 15-bit noise value N = (H - 128) x 256 + L is kept in single precision (exact below 2^15);
// C/N = 10 log10(8192 / N), the noise value 8192 being 0 dB, is worked out in double and the
// result narrowed to single precision: N = 1 prints 39.133900 where double would print 39.133899.
float carrier_to_noise_db(uint8_t noise_high, uint8_t noise_low) {
  if (!reg::noise_valid.set_in(noise_high)) return kNoCnEstimate;
  const auto noise =
      static_cast<float>((noise_high - kValidFlagWeight) * kHighByteWeight + noise_low);
  return static_cast<float>(kDbPerDecade * std::log10(kNoiseAt0Db / static_cast<double>(noise)));
}

// The low byte is read even when the estimate is not valid. No lock test.
Result<CnReading> read_carrier_to_noise(BoardBus& bus) {
  CnReading r;
  const Result<uint8_t> high = demod_read_reg(bus, reg::noise_high.reg);
  if (!high) return high.error();
  r.noise_high = *high;
  const Result<uint8_t> low = demod_read_reg(bus, reg::noise_low.reg);
  if (!low) return low.error();
  r.noise_low = *low;
  r.cn_db = carrier_to_noise_db(r.noise_high, r.noise_low);
  r.figure = reg::noise_valid.set_in(r.noise_high);
  return r;
}

}  // namespace demodctl
