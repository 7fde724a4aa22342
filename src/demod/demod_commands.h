// The demodulator status and control commands: link probes, initialisation, hot reset, mode
// report. Each runs on the open connection the front end hands it (after the identity check
// where its row asks for one) and returns its outcome.
#pragma once

#include "bus/transport.h"
#include "output/outcome.h"

namespace demodctl {

Outcome on_line(Transport& bus, const Invocation& command);
Outcome agc_ok(Transport& bus, const Invocation& command);
Outcome cbs_ok(Transport& bus, const Invocation& command);
Outcome tr_ok(Transport& bus, const Invocation& command);
Outcome sync_ok(Transport& bus, const Invocation& command);
Outcome cr_ok(Transport& bus, const Invocation& command);
Outcome fec_ok(Transport& bus, const Invocation& command);

Outcome chip_init(Transport& bus, const Invocation& command);
Outcome hot_rst(Transport& bus, const Invocation& command);
Outcome dvb_standard(Transport& bus, const Invocation& command);

}  // namespace demodctl
