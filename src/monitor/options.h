// demodmon's command line: the boards (--board, or demodctl's positional layouts for one) and
// the options of the samplers and outputs.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "monitor/board_target.h"

namespace demodctl::monitor {

inline constexpr int kExitUsage = 2;

// --http and the options that go with it (the web side's own options, kept here as plain data).
struct HttpOptions {
  std::string listen;
  uint16_t port = 0;
  std::vector<std::string> allow;
  std::vector<std::string> hosts;  // --http-host
  bool captures_allowed = false;
};

struct MonitorOptions {
  std::vector<BoardTarget> boards;
  std::chrono::milliseconds interval{1000};
  uint64_t count = 0;  // 0: until SIGINT/SIGTERM
  bool json = false;
  std::optional<HttpOptions> http;  // --http given
  uint64_t capture_every = 0;
  std::string capture_dir = ".";
};

struct ParsedMonitorOptions {
  std::optional<MonitorOptions> options;
  int exit_status = 0;
  std::string message;  // help or version text (stdout), or one error line (stderr)
};

// `default_bus`: DEMODCTL_I2C_BUS's value for the positional bridge layout (empty when unset).
ParsedMonitorOptions parse_monitor_options(int argc, const char* const* argv,
                                           const std::string& default_bus);

}  // namespace demodctl::monitor
