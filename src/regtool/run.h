// Carries out a demodreg request on its board and says what came of it as the exit status:
//   0 done (diff: the dumps are equal), 1 diff: they differ, or a transfer failed,
//   2 a bad request, a write refused for want of -y, a board or file that cannot be had
//   (diff: any error).
#pragma once

#include <cstdio>

#include "bus/run_settings.h"
#include "regtool/request.h"

namespace demodctl::regtool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitDiffer = 1;
inline constexpr int kExitFault = 1;
inline constexpr int kExitUsage = 2;

// What the program read once from its environment.
struct Settings {
  bool interactive = false;  // standard input is a terminal: a write may ask for a yes
  RunSettings link;          // the board's connection: reply timeout, bus trace, verbosity
};

int run(const Request& request, const Settings& settings);

}  // namespace demodctl::regtool
