// The mode report of a moment whose bit error rate was just read: the BER reading holds the lock
// status and the mode register of the standard (0x5C on DVB-S2, 0x8E on DVB-S / DirecTV), so only
// the registers it did not read are read here. A monitor takes both each sample and reads each
// register once; dvb_standard keeps read_mode (demod/mode_report.h) and its own sequence.
#pragma once

#include "bus/board_bus.h"
#include "demod/mode_report.h"
#include "measure/measurements.h"

namespace demodctl {

// The same fields read_mode gives on the same registers: nothing read without FEC lock (standard
// unknown); on DVB-S2 vcm_constant, then, with constant coding, rolloff; on DVB-S / DirecTV
// nothing more. A refused read gives its fault.
Result<ModeReport> read_mode_after_ber(BoardBus& bus, const BerReading& ber);

}  // namespace demodctl
