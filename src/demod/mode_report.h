// The mode report: the received standard and transmission mode as text, read on an open
// connection ("DVB-S2,8PSK+3/4,Normal Frame,PLT ON,Roll_off=0.35", "unkown standard!" without
// FEC lock). dvb_standard prints it; a monitor reads it every sample.
#pragma once

#include <string>

#include "bus/transport.h"
#include "output/outcome.h"

namespace demodctl {

// Reads what the lock status calls for (0x2C, then 0x97, 0x5C, 0x9D or 0x8E) into `text`; nothing
// after a refused transfer, whose fault it gives (`text` then unchanged).
Fault read_mode_report(Transport& bus, std::string& text);

}  // namespace demodctl
