#include "capture/samples.h"

namespace demodctl {

// w = b0 + 256 b1 + 65536 b2, the 24-bit little-endian word (b3 is not part of it).
//   9-bit: column 1 = bits 0..8 of w, column 2 = bits 9..17, both offset binary (value - 256),
//          so each lies in -256 .. 255.
//   8-bit: column 1 = bits 12..19, column 2 = bits 4..11, both two's complement, -128 .. 127;
//          bits 0..3 and 20..23 are not used. Column 1 is the higher field here, the lower one
//          in the 9-bit layout.
SamplePair decode_word(std::span<const uint8_t, 4> word, SampleFormat format) {
  const uint32_t w = word[0] | (uint32_t{word[1]} << 8) | (uint32_t{word[2]} << 16);
  if (format == SampleFormat::nine_bit) {
    constexpr int kOffset = 256;
    return {static_cast<int>(w & 0x1FFU) - kOffset, static_cast<int>((w >> 9) & 0x1FFU) - kOffset};
  }
  const auto field = [](uint32_t v) { return static_cast<int>(static_cast<int8_t>(v & 0xFFU)); };
  return {field(w >> 12), field(w >> 4)};
}

SamplePairs decode_capture(const CaptureBuffer& capture, SampleFormat format) {
  SamplePairs pairs{};
  for (size_t n = 0; n < kSampleWords; ++n) {
    pairs[n] = decode_word(std::span<const uint8_t, 4>(capture.data() + 4 * n, 4), format);
  }
  return pairs;
}

}  // namespace demodctl
