// The mode report: the received standard and transmission mode, read on an open connection as
// fields, and the text dvb_standard prints of them ("DVB-S2,8PSK+3/4,Normal Frame,PLT ON,
// Roll_off=0.35", "unkown standard!" without FEC lock). A monitor reads the fields every sample and
// shows them by name; only dvb_standard and the monitor's "mode" text carry the exact text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "bus/board_bus.h"
#include "outcome/outcome.h"

namespace demodctl {

enum class Standard : uint8_t {
  unknown,  // no FEC lock (reg::lock_fec clear): nothing else is known
  dvbs2,    // reg::lock_sync set
  dvbs,     // reg::fec_directv clear
  directv,  // reg::fec_directv set
};

// What the registers said. Only the fields of the standard received are read; the others stay 0.
struct ModeReport {
  Standard standard = Standard::unknown;
  bool vcm = false;    // DVB-S2 with variable coding (reg::vcm_constant clear): no MODCOD read
  uint8_t modcod = 0;  // DVB-S2: reg::modcod
  bool short_frame = false;  // DVB-S2: reg::short_frame
  bool pilots = false;       // DVB-S2: reg::pilots
  uint8_t rolloff_code = 0;  // DVB-S2: reg::rolloff
  uint8_t rate_code = 0;     // DVB-S / DirecTV: reg::fec_code_rate

  bool operator==(const ModeReport&) const = default;
};

// Reads what the lock status calls for (the lock status, then vcm_constant, the MODCOD register and
// rolloff, or the FEC mode register; each once); nothing after a refused transfer, whose fault it
// gives.
Result<ModeReport> read_mode(BoardBus& bus);

// The report as dvb_standard prints it, byte for byte.
std::string mode_text(const ModeReport& mode);

// The same fields by name, for people and programs that read them one by one; an empty text
// where the chip gives none.
// "DVB-S2", "DVB-S", "DirecTV"; empty without a standard.
std::string standard_name(Standard standard);
// DVB-S2 with a MODCOD in use: "QPSK", "8PSK", "16APSK" or "32APSK"; else empty (DVB-S and
// DirecTV are QPSK, but the chip does not say so).
std::string modulation_name(const ModeReport& mode);
// The code rate ("3/4"), from the MODCOD on DVB-S2 and from reg::fec_code_rate otherwise; empty
// where the chip gives none (no lock, VCM, the dummy or a reserved MODCOD, a code the standard
// lacks).
std::string code_rate_name(const ModeReport& mode);
// The roll-off factor: 0.35, 0.25 or 0.2 on DVB-S2 (nothing for the reserved code), 0.35 on
// DVB-S and 0.2 on DirecTV as those standards fix it; nothing without a standard or with VCM.
std::optional<double> roll_off(const ModeReport& mode);

}  // namespace demodctl
