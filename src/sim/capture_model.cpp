#include "sim/capture_model.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

#include "demod/register_map.h"
#include "sim/apsk_rings.h"

namespace demodctl::sim {
namespace {

constexpr std::size_t kWords = 2048;
constexpr std::size_t kBytesPerWord = 4;
constexpr double kLevel9 = 100.0;   // outer ring in the 9-bit fields (range -256..255)
constexpr double kLevel8 = 50.0;    // outer ring in the 8-bit fields (range -128..127)
constexpr double kNoiseOnly = 0.3;  // noise level without lock, of the outer ring

// DVB-S2 MODCOD ranges by modulation; DVB-S, DirecTV, the dummy and reserved MODCODs are QPSK.
constexpr uint8_t kFirst8psk = 12;

void ring(std::vector<std::complex<double>>& points, int n, double radius, double phase) {
  for (int k = 0; k < n; ++k) {
    points.push_back(std::polar(radius, phase + 2.0 * std::numbers::pi * k / n));
  }
}

// A 24-bit sample word for one (I, Q) pair in the chosen layout: 9-bit offset binary I in bits
// 0..8 and Q in bits 9..17, or 8-bit two's complement I in bits 12..19 and Q in bits 4..11.
uint32_t pack(bool eight_bit, long i, long q) {
  if (eight_bit) {
    i = std::clamp(i, -128L, 127L);
    q = std::clamp(q, -128L, 127L);
    return ((static_cast<uint32_t>(i) & 0xFFU) << 12) | ((static_cast<uint32_t>(q) & 0xFFU) << 4);
  }
  i = std::clamp(i, -256L, 255L) + 256;
  q = std::clamp(q, -256L, 255L) + 256;
  return static_cast<uint32_t>(i) | (static_cast<uint32_t>(q) << 9);
}

}  // namespace

std::vector<std::complex<double>> constellation(const Signal& signal) {
  std::vector<std::complex<double>> points;
  const double quarter = std::numbers::pi / 4;
  const uint8_t m = signal.modcod;
  if (signal.standard != Standard::dvbs2 || m < kFirst8psk || m > kLast32apskModcod) {
    ring(points, 4, 1.0, quarter);  // QPSK
  } else if (m < kFirst16apskModcod) {
    ring(points, 8, 1.0, 0.0);  // 8PSK
  } else if (m < kFirst32apskModcod) {
    const ApskRadii r = apsk16_radii(m);  // 16APSK 4+12, rings by the code rate
    ring(points, 4, r.inner, quarter);
    ring(points, 12, 1.0, quarter / 3);
  } else {
    const ApskRadii r = apsk32_radii(m);  // 32APSK 4+12+16, rings by the code rate
    ring(points, 4, r.inner, quarter);
    ring(points, 12, r.middle, quarter / 3);
    ring(points, 16, 1.0, 0.0);
  }
  return points;
}

void CaptureModel::start(uint8_t format_register, const std::optional<Signal>& signal) {
  settle();  // an earlier capture draws its samples first, as it would have
  pending_ = Pending{format_register == reg::kCaptureEightBit, signal};
  position_ = 0;
  busy_reads_ = kCaptureBusyReads;
}

void CaptureModel::settle() {
  if (!pending_) return;
  const Pending capture = *std::exchange(pending_, std::nullopt);
  const bool eight_bit = capture.eight_bit;
  const std::optional<Signal>& signal = capture.signal;
  const double level = eight_bit ? kLevel8 : kLevel9;
  const bool locked = signal.has_value() && signal->locked;
  const auto points = locked ? constellation(*signal) : std::vector<std::complex<double>>{};
  // Es/N0 = C/N: the noise power per complex sample is the symbol power over it.
  const double sigma =
      locked ? level / std::sqrt(2.0 * std::pow(10.0, signal->cn_db / 10.0)) : level * kNoiseOnly;
  std::normal_distribution<double> noise(0.0, sigma);
  std::uniform_int_distribution<std::size_t> symbol(0, points.empty() ? 0 : points.size() - 1);
  data_.assign(kWords * kBytesPerWord, 0);
  for (std::size_t n = 0; n < kWords; ++n) {
    std::complex<double> sample = locked ? points[symbol(random_)] * level : 0.0;
    sample += std::complex<double>(noise(random_), noise(random_));
    const uint32_t word = pack(eight_bit, std::lround(sample.real()), std::lround(sample.imag()));
    for (std::size_t b = 0; b + 1 < kBytesPerWord; ++b) {  // the fourth byte stays 0
      data_[n * kBytesPerWord + b] = static_cast<uint8_t>(word >> (8 * b));
    }
  }
}

bool CaptureModel::poll_complete() {
  if (busy_reads_ == 0) return true;
  --busy_reads_;
  return false;
}

uint8_t CaptureModel::next_byte() {
  settle();
  if (data_.empty()) return 0;  // no capture started yet
  const uint8_t byte = data_[position_];
  position_ = (position_ + 1) % data_.size();
  return byte;
}

}  // namespace demodctl::sim
