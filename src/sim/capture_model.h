// The simulated capture unit: a capture started through 0xEA completes at once,
// and the data port 0xEF then yields 2048 four-byte sample words of a test tone
// (I = A cos, Q = A sin, 32 samples per period), laid out for the format that
// register 0x2F selects (0x7C: 8-bit fields, anything else: 9-bit fields).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace demodctl::sim {

class CaptureModel {
 public:
  // Starts a capture with the format selected by register 0x2F's value.
  void start(uint8_t format_register);
  // The next byte of the data port; wraps after the last word.
  uint8_t next_byte();

 private:
  std::vector<uint8_t> data_;
  std::size_t position_ = 0;
};

}  // namespace demodctl::sim
