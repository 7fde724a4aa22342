// demodmon's configuration file, for a run as a service: TOML with the settings of the command
// line, each checked as the command line checks it. An error names the file, the line and the
// key: "/etc/demodmon/demodmon.toml:7: interval: needs a whole number from 10 to 3600000".
//
//   boards = ["a=127.0.0.1:7468/0@208", "b=usb:0@208"]   # as --board, in this order
//   interval = 1000                                      # milliseconds
//   count = 0
//   json = false
//   [http]
//   listen = "127.0.0.1:7469"
//   allow = ["127.0.0.1"]
//   [captures]
//   allowed = false
//   every = 0
//   dir = "/var/lib/demodmon"
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace demodctl::monitor {

// What the file sets; a key it leaves out stays empty.
struct MonitorConfig {
  std::vector<std::string> boards;  // NAME=TARGET each, already checked
  std::optional<uint64_t> interval_ms;
  std::optional<uint64_t> count;
  std::optional<bool> json;
  std::optional<std::string> http_listen;  // ADDR:PORT
  std::optional<std::vector<std::string>> http_allow;
  std::optional<bool> captures_allowed;
  std::optional<uint64_t> capture_every;
  std::optional<std::string> capture_dir;
};

struct LoadedConfig {
  std::optional<MonitorConfig> config;
  std::string error;  // "FILE:LINE: KEY: what" (one line) when config is empty
};

// The largest configuration file read: far more than any rack needs.
inline constexpr size_t kMaxConfigBytes = 64 * 1024;

// The text of `path` (named in the errors only).
LoadedConfig parse_monitor_config(const std::string& path, std::string_view text);
// Reads the file (no link, no FIFO, a regular file of at most kMaxConfigBytes) and parses it.
LoadedConfig load_monitor_config(const std::string& path);

}  // namespace demodctl::monitor
