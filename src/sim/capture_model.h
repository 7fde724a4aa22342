// The simulated capture unit. A capture started through 0xEA completes after a few reads of 0xEA,
// and the data port 0xEF then yields 2048 four-byte sample words, laid out for the format that
// register 0x2F selects (0x7C: 8-bit fields, anything else: 9-bit fields).
//
// The capture point is after the demodulator's carrier and timing recovery: with lock there is one
// sample per symbol (so the symbol rate is the sample rate), the constellation of the signal's
// modulation at a fixed level, with Gaussian noise at its C/N; the carrier offset has been
// removed by the lock (it is what carrier_err reports). Without lock, or with no signal, the
// samples are noise alone. A fixed seed makes every capture of the same board repeatable.
//
// Like the chip's, the unit fills its memory on its own after the write that starts it: the
// samples are drawn by settle(), which the register server calls once the write's reply is on its
// way, or by the first read that needs them; either way in the order of the starts, so the
// samples are the same.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "sim/signal.h"

namespace demodctl::sim {

inline constexpr uint32_t kCaptureBusyReads = 2;  // reads of 0xEA before the complete flag shows

// The constellation points of a signal's modulation, on the unit circle's scale (outer ring 1).
std::vector<std::complex<double>> constellation(const Signal& signal);

class CaptureModel {
 public:
  // Starts a capture with the format selected by register 0x2F's value, of the signal received.
  void start(uint8_t format_register, const std::optional<Signal>& signal);
  // Draws the samples of a started capture that has not drawn them yet.
  void settle();
  // True once the capture is complete; each call before counts as one poll of 0xEA.
  bool poll_complete();
  // The next byte of the data port; wraps after the last word; 0 before any capture.
  uint8_t next_byte();

 private:
  // What a started capture draws its samples from, until settle() has drawn them.
  struct Pending {
    bool eight_bit;
    std::optional<Signal> signal;
  };
  std::optional<Pending> pending_;
  std::vector<uint8_t> data_;
  std::size_t position_ = 0;
  uint32_t busy_reads_ = 0;
  std::mt19937 random_{20261207};
};

}  // namespace demodctl::sim
