// Modulation error ratio of a capture, decision-directed: each sample is decided to the nearest
// ideal point of the mode's constellation and the error is what is left over.
#pragma once

#include <complex>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace demodctl::monitor {

enum class Constellation { qpsk, psk8, apsk16, apsk32 };

// The constellation of the received mode: on DVB-S2 (reg::lock_sync set) by reg::modcod (1..11
// QPSK, 12..17 8PSK, 18..23 16APSK, 24..28 32APSK); DVB-S, DirecTV, the dummy and the reserved
// MODCODs are QPSK.
Constellation constellation_for(uint8_t lock_status, uint8_t pls);
// The MODCOD that 0x5C carries in bits 7..2.
uint8_t modcod_of(uint8_t pls);
const char* constellation_name(Constellation c);

// The ideal points, outer ring of radius 1: QPSK at 45 degrees, 8PSK from 0, 16APSK 4+12 and
// 32APSK 4+12+16 with the ring ratios of the MODCOD's code rate (sim/apsk_rings.h; a MODCOD of
// another modulation takes the nearest APSK one's).
std::vector<std::complex<double>> ideal_points(Constellation c, uint8_t modcod);

// MER in dB = 10 log10(sum |ideal|^2 / sum |error|^2). The samples' scale is unknown (gain,
// sample format), so it is fitted: start from the RMS ratio of samples and points, decide, refit
// the scale by least squares on the decided points, a few rounds. Empty for no samples or a
// capture of zeros.
std::optional<double> mer_db(std::span<const std::pair<int, int>> samples, Constellation c,
                             uint8_t modcod);

}  // namespace demodctl::monitor
