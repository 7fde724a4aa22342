// The mode report: the received standard and transmission mode, read on an open connection as
// fields, and the text dvb_standard prints of them ("DVB-S2,8PSK+3/4,Normal Frame,PLT ON,
// Roll_off=0.35", "unkown standard!" without FEC lock). A monitor reads the fields every sample and
// shows them by name; only dvb_standard and the monitor's "mode" text carry the exact text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bus/transport.h"
#include "output/outcome.h"

namespace demodctl {

enum class Standard : uint8_t {
  unknown,  // no FEC lock (0x2C bit 5 clear): nothing else is known
  dvbs2,    // 0x2C bit 3 set
  dvbs,     // 0x8E bit 0 clear
  directv,  // 0x8E bit 0 set
};

// What the registers said. Only the fields of the standard received are read; the others stay 0.
struct ModeReport {
  Standard standard = Standard::unknown;
  bool vcm = false;          // DVB-S2 with variable coding (0x97 bit 7 clear): no MODCOD read
  uint8_t modcod = 0;        // DVB-S2: 0x5C bits 7..2
  bool short_frame = false;  // DVB-S2: 0x5C bit 1
  bool pilots = false;       // DVB-S2: 0x5C bit 0
  uint8_t rolloff_code = 0;  // DVB-S2: 0x9D bits 7..6
  uint8_t rate_code = 0;     // DVB-S / DirecTV: 0x8E bits 3..1

  bool operator==(const ModeReport&) const = default;
};

// Reads what the lock status calls for (0x2C, then 0x97, 0x5C, 0x9D or 0x8E); nothing after a
// refused transfer, whose fault it gives (`mode` then unchanged).
Fault read_mode(Transport& bus, ModeReport& mode);

// The report as dvb_standard prints it, byte for byte.
std::string mode_text(const ModeReport& mode);

// The same fields by name, for people and programs that read them one by one; an empty text
// where the chip gives none.
// "DVB-S2", "DVB-S", "DirecTV"; empty without a standard.
std::string standard_name(Standard standard);
// DVB-S2 with a MODCOD in use: "QPSK", "8PSK", "16APSK" or "32APSK"; else empty (DVB-S and
// DirecTV are QPSK, but the chip does not say so).
std::string modulation_name(const ModeReport& mode);
// The code rate ("3/4"), from the MODCOD on DVB-S2 and from 0x8E otherwise; empty where the
// chip gives none (no lock, VCM, the dummy or a reserved MODCOD, a code the standard lacks).
std::string code_rate_name(const ModeReport& mode);
// The roll-off factor: 0.35, 0.25 or 0.2 on DVB-S2 (nothing for the reserved code), 0.35 on
// DVB-S and 0.2 on DirecTV as those standards fix it; nothing without a standard or with VCM.
std::optional<double> roll_off(const ModeReport& mode);

}  // namespace demodctl
