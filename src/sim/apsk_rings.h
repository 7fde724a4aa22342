// The ring ratios of the DVB-S2 APSK constellations, which depend on the code rate: EN 302 307
// table 9 (16APSK, 4+12 points: gamma = R2/R1) and table 10 (32APSK, 4+12+16 points:
// gamma1 = R2/R1, gamma2 = R3/R1). A higher code rate tolerates less noise between the rings, so
// the rings sit closer together. Shared by the simulated capture and the monitor's MER, which must
// agree on where the ideal points are.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace demodctl {

// The MODCODs of each APSK order (0x5C bits 7..2), in the order of the tables' code rates.
inline constexpr uint8_t kFirst16apskModcod = 18;  // 16APSK 2/3
inline constexpr uint8_t kLast16apskModcod = 23;   // 16APSK 9/10
inline constexpr uint8_t kFirst32apskModcod = 24;  // 32APSK 3/4
inline constexpr uint8_t kLast32apskModcod = 28;   // 32APSK 9/10

// Table 9: gamma of 16APSK for the code rates 2/3, 3/4, 4/5, 5/6, 8/9, 9/10.
inline constexpr std::array<double, 6> kApsk16Gamma = {3.15, 2.85, 2.75, 2.70, 2.60, 2.57};

struct Apsk32Gammas {
  double inner_to_middle;  // gamma1 = R2/R1
  double inner_to_outer;   // gamma2 = R3/R1
};
// Table 10: gamma1 / gamma2 of 32APSK for the code rates 3/4, 4/5, 5/6, 8/9, 9/10.
inline constexpr std::array<Apsk32Gammas, 5> kApsk32Gamma = {
    {{2.84, 5.27}, {2.72, 4.87}, {2.64, 4.64}, {2.54, 4.33}, {2.53, 4.30}}};

// Ring radii relative to the outer ring (radius 1), innermost first.
struct ApskRadii {
  double inner = 1.0;
  double middle = 1.0;  // 32APSK only
};

// 16APSK of `modcod`; a MODCOD outside 18..23 takes the nearest one's ratio.
constexpr ApskRadii apsk16_radii(uint8_t modcod) {
  const auto m = std::clamp(modcod, kFirst16apskModcod, kLast16apskModcod);
  return {.inner = 1.0 / kApsk16Gamma[static_cast<std::size_t>(m - kFirst16apskModcod)]};
}

// 32APSK of `modcod`; a MODCOD outside 24..28 takes the nearest one's ratios.
constexpr ApskRadii apsk32_radii(uint8_t modcod) {
  const auto m = std::clamp(modcod, kFirst32apskModcod, kLast32apskModcod);
  const Apsk32Gammas g = kApsk32Gamma[static_cast<std::size_t>(m - kFirst32apskModcod)];
  return {.inner = 1.0 / g.inner_to_outer, .middle = g.inner_to_middle / g.inner_to_outer};
}

}  // namespace demodctl
