// Why a run failed, for the person at the terminal. With the run's `verbose` setting
// (DEMODCTL_VERBOSE set to any non-empty value, bus/run_settings.h) the place that knows the cause
// (the register-server client, the USB bridge) says it in one line on standard error, "demodctl:
// CAUSE". Without it standard error stays empty, so a harness that takes any text there for a fault
// is not tripped. Standard output never carries these lines, and no exit status depends on them.
#pragma once

#include <string>

namespace demodctl {

// "demodctl: " + why, one line on standard error when `verbose`. A control character in `why`
// (from a host name on the command line, say) is shown as '?', so one cause is one line.
void say_why(bool verbose, const std::string& why);

}  // namespace demodctl
