// Texts of the transmission mode report, indexed by register fields.
#pragma once

#include <cstdint>
#include <optional>

namespace demodctl {

// DVB-S2 MODCOD, register 0x5C bits 7..2 (the PL signalling code); 29..63 are reserved.
const char* modcod_text(uint8_t index);
// Roll-off, register 0x9D bits 7..6.
const char* rolloff_text(uint8_t code);
// The roll-off factor of a DVB-S2 code; nothing for the reserved code 3.
std::optional<double> rolloff_factor(uint8_t code);
// Code rate, register 0x8E bits 3..1; DVB-S and DirecTV use different tables ("NA" where the
// standard has no such code).
const char* dvbs_rate_text(uint8_t code);
const char* directv_rate_text(uint8_t code);

}  // namespace demodctl
