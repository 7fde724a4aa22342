#include "sim/capture_model.h"

#include <cmath>
#include <numbers>

namespace demodctl::sim {
namespace {

constexpr std::size_t kWords = 2048;
constexpr std::size_t kBytesPerWord = 4;
constexpr double kSamplesPerPeriod = 32.0;
constexpr uint8_t kEightBitFormat = 0x7C;  // 0x2F value of the 8-bit sample format
constexpr double kAmplitude9 = 100.0;      // peak of the 9-bit fields (range -256..255)
constexpr double kAmplitude8 = 50.0;       // peak of the 8-bit fields (range -128..127)
constexpr uint32_t kOffset9 = 256;         // 9-bit fields are offset binary
constexpr uint32_t kField9 = 0x1FF;
constexpr uint32_t kField8 = 0xFF;
constexpr unsigned kSecondField9 = 9;  // bit position of the 9-bit Q field
constexpr unsigned kFirstField8 = 12;  // bit position of the 8-bit I field
constexpr unsigned kSecondField8 = 4;  // bit position of the 8-bit Q field
constexpr uint32_t kByteMask = 0xFF;
constexpr unsigned kBitsPerByte = 8;

// A 24-bit sample word for one (I, Q) pair in the chosen layout.
uint32_t pack(bool eight_bit, long i, long q) {
  if (eight_bit) {
    return ((static_cast<uint32_t>(i) & kField8) << kFirstField8) |
           ((static_cast<uint32_t>(q) & kField8) << kSecondField8);
  }
  const auto i9 = static_cast<uint32_t>(i + static_cast<long>(kOffset9)) & kField9;
  const auto q9 = static_cast<uint32_t>(q + static_cast<long>(kOffset9)) & kField9;
  return i9 | (q9 << kSecondField9);
}

}  // namespace

void CaptureModel::start(uint8_t format_register) {
  const bool eight_bit = format_register == kEightBitFormat;
  const double amplitude = eight_bit ? kAmplitude8 : kAmplitude9;
  data_.assign(kWords * kBytesPerWord, 0);
  for (std::size_t n = 0; n < kWords; ++n) {
    const double phase = 2.0 * std::numbers::pi * static_cast<double>(n) / kSamplesPerPeriod;
    const uint32_t word = pack(eight_bit, std::lround(amplitude * std::cos(phase)),
                               std::lround(amplitude * std::sin(phase)));
    for (std::size_t b = 0; b + 1 < kBytesPerWord; ++b) {  // the fourth byte stays 0
      data_[n * kBytesPerWord + b] = static_cast<uint8_t>((word >> (kBitsPerByte * b)) & kByteMask);
    }
  }
  position_ = 0;
}

uint8_t CaptureModel::next_byte() {
  if (data_.empty()) return 0;  // no capture started yet
  const uint8_t byte = data_[position_];
  position_ = (position_ + 1) % data_.size();
  return byte;
}

}  // namespace demodctl::sim
