// The demodulator status and control commands: link probes, initialisation, hot reset, mode
// report. Each runs on the open connection the front end hands it (after the identity check
// where its row asks for one) and returns its outcome.
#pragma once

#include "bus/transport.h"
#include "outcome/outcome.h"

namespace demodctl {

Outcome on_line(Transport& bus);
Outcome agc_ok(Transport& bus);
Outcome cbs_ok(Transport& bus);
Outcome tr_ok(Transport& bus);
Outcome sync_ok(Transport& bus);
Outcome cr_ok(Transport& bus);
Outcome fec_ok(Transport& bus);

Outcome chip_init(Transport& bus);
Outcome hot_rst(Transport& bus);
Outcome dvb_standard(Transport& bus);

}  // namespace demodctl
