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
  EXPECT_EQ(o.interval, std::chrono::milliseconds(20));
  EXPECT_EQ(o.count, 3u);
  EXPECT_TRUE(o.json);
  ASSERT_EQ(o.boards.size(), 2u);
  EXPECT_EQ(o.boards[1].name, "b");
  ASSERT_TRUE(o.http);
  EXPECT_EQ(o.http->listen + ":" + std::to_string(o.http->port), "::1:7469");
  EXPECT_EQ(o.http->allow, std::vector<std::string>{"::1"});
  EXPECT_TRUE(o.http->captures_allowed);
  EXPECT_EQ(o.capture_every, 10u);
  EXPECT_EQ(o.capture_dir, "/var/lib/demodmon");
  testing::write_file(dir.path(), "demodmon.toml", "\ncount = 'x'\n");
  const auto bad = parse_monitor_options(3, argv, "");
  EXPECT_EQ(bad.exit_status, kExitUsage);
  EXPECT_EQ(bad.message,
            "demodmon: " + path + ":2: count: needs a whole number from 0 to 1000000000000");
}

}  // namespace
}  // namespace demodctl::monitor
