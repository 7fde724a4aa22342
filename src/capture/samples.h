// The capture: 8192 bytes read from the data port, 2048 four-byte words, each a pair of samples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace demodctl {

inline constexpr size_t kCaptureBytes = 8192;
inline constexpr size_t kSampleWords = kCaptureBytes / 4;

using CaptureBuffer = std::array<uint8_t, kCaptureBytes>;
using SamplePair = std::pair<int, int>;  // column 1, column 2
using SamplePairs = std::array<SamplePair, kSampleWords>;

enum class SampleFormat { nine_bit, eight_bit };

// One word b0 b1 b2 b3 (b3 never used) as a pair; see the layouts in samples.cpp.
SamplePair decode_word(std::span<const uint8_t, 4> word, SampleFormat format);
SamplePairs decode_capture(const CaptureBuffer& capture, SampleFormat format);

}  // namespace demodctl
