// The typed requests of the commands that take arguments, parsed from their own arguments: every
// position a command reads is read here, once, and a left-out optional argument has its default.
#pragma once

#include "capture/capture_commands.h"
#include "cli/invocation.h"
#include "tuner/tuner_commands.h"

namespace demodctl {

// ad_smp's capture_mode: 1 is the 8-bit format; any other value, or none given, the 9-bit one.
CaptureRequest capture_request(const Invocation& command);

// tuner_set's tuner channel (register server; 0 on the bridge), tuner address, type, frequency
// and bandwidth. The tuner device shares the demodulator's host, port and speed.
TuneRequest tune_request(const Invocation& command);

}  // namespace demodctl
