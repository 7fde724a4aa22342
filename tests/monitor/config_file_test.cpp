// demodmon's configuration file: each fault named with its line and key, every key read, and the
// command line winning over the file.
#include "monitor/config_file.h"

#include <gtest/gtest.h>

#include "monitor/options.h"
#include "support/process.h"

namespace demodctl::monitor {
namespace {

TEST(MonitorConfig, FaultsNameTheLineAndTheKey) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"interval = 5", "f.toml:1: interval: needs a whole number from 10 to 3600000"},
      {"\ncount = -1", "f.toml:2: count: needs a whole number from 0 to 1000000000000"},
      {"json = 1", "f.toml:1: json: needs true or false"},
      {"boards = [\"a=usb:0@208\",\n  \"a=usb:1@208\"]", "f.toml:2: boards: board a given twice"},
      {"boards = \"a=usb:0@208\"", "f.toml:1: boards: needs an array of texts: [\"...\", \"...\"]"},
      {"[http]\nlisten = \"127.0.0.1\"",
       "f.toml:2: http.listen: needs ADDR:PORT (PORT 0..65535), not '127.0.0.1'"},
      {"[http]\nport = 1", "f.toml:2: http.port: unknown key (the keys of [http]: listen, allow)"},
      {"intervall = 10",
       "f.toml:1: intervall: unknown key (the keys: boards, interval, count, json, [http], "
       "[captures])"},
      {"interval = 10\n[http",
       "f.toml:2: Error while parsing table header: encountered end-of-file"},
  };
  for (const auto& c : cases) {
    const auto loaded = parse_monitor_config("f.toml", c.text);
    EXPECT_FALSE(loaded.config) << c.text;
    EXPECT_EQ(loaded.error, c.error) << c.text;
  }
}

TEST(MonitorConfig, EveryKeyIsReadAndTheCommandLineWins) {
  const testing::TempDir dir;
  const std::string path = testing::write_file(dir.path(), "demodmon.toml", R"(
boards = ["a=usb:0@208", "b=usb:1@208"]
interval = 500
count = 3
json = true
[http]
listen = "[::1]:7469"
allow = ["::1"]
[captures]
allowed = true
every = 10
dir = "/var/lib/demodmon"
)");
  const char* argv[] = {"demodmon", "--config", path.c_str(), "--interval", "20"};
  const auto parsed = parse_monitor_options(5, argv, "");
  ASSERT_TRUE(parsed.options) << parsed.message;
  const MonitorOptions& o = *parsed.options;
  ASSERT_EQ(o.boards.size(), 2u);
  ASSERT_TRUE(o.http);
  EXPECT_EQ(std::tuple(o.interval.count(), o.count, o.json, o.boards[1].name, o.http->listen,
                       o.http->port, o.http->allow, o.http->captures_allowed, o.capture_every,
                       o.capture_dir),
            std::tuple(20, 3u, true, "b", "::1", 7469, std::vector<std::string>{"::1"}, true, 10u,
                       "/var/lib/demodmon"));
  testing::write_file(dir.path(), "demodmon.toml", "\ncount = 'x'\n");
  const auto bad = parse_monitor_options(3, argv, "");
  EXPECT_EQ(bad.exit_status, kExitUsage);
  EXPECT_EQ(bad.message,
            "demodmon: " + path + ":2: count: needs a whole number from 0 to 1000000000000");
}

}  // namespace
}  // namespace demodctl::monitor
