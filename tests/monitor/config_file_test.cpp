// demodmon's configuration file: every key read, each fault named with its line and key, and the
// command line winning over the file.
#include "monitor/config_file.h"

#include <gtest/gtest.h>

#include "monitor/options.h"
#include "support/process.h"

namespace demodctl::monitor {
namespace {

TEST(MonitorConfig, EveryKeyIsRead) {
  const auto loaded = parse_monitor_config("f.toml", R"(boards = ["a=usb:0@208", "b=usb:1@208"]
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
  ASSERT_TRUE(loaded.config) << loaded.error;
  const MonitorConfig& c = *loaded.config;
  EXPECT_EQ(c.boards, (std::vector<std::string>{"a=usb:0@208", "b=usb:1@208"}));
  EXPECT_EQ(c.interval_ms, 500u);
  EXPECT_EQ(c.count, 3u);
  EXPECT_EQ(c.json, true);
  EXPECT_EQ(c.http_listen, "[::1]:7469");
  EXPECT_EQ(c.http_allow, std::vector<std::string>{"::1"});
  EXPECT_EQ(c.captures_allowed, true);
  EXPECT_EQ(c.capture_every, 10u);
  EXPECT_EQ(c.capture_dir, "/var/lib/demodmon");
}

TEST(MonitorConfig, FaultsNameTheLineAndTheKey) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"interval = 5", "f.toml:1: interval: needs a whole number from 10 to 3600000"},
      {"\ncount = -1", "f.toml:2: count: needs a whole number from 0 to 1000000000000"},
      {"count = 1.5", "f.toml:1: count: needs a whole number from 0 to 1000000000000"},
      {"json = 1", "f.toml:1: json: needs true or false"},
      {"boards = [\"a=usb:0@208\",\n  \"a=usb:1@208\"]", "f.toml:2: boards: board a given twice"},
      {"boards = []", "f.toml:1: boards: needs at least one board"},
      {"boards = \"a=usb:0@208\"", "f.toml:1: boards: needs an array of texts: [\"...\", \"...\"]"},
      {"[http]\nlisten = \"127.0.0.1\"",
       "f.toml:2: http.listen: needs ADDR:PORT (PORT 0..65535), not '127.0.0.1'"},
      {"[http]\nallow = [\"::1\", 2]", "f.toml:2: http.allow: needs a text in quotes, not empty"},
      {"[http]\nport = 1", "f.toml:2: http.port: unknown key (the keys of [http]: listen, allow)"},
      {"[captures]\ndir = \"\"", "f.toml:2: captures.dir: needs a text in quotes, not empty"},
      {"captures = 1", "f.toml:1: captures: needs a table: [captures]"},
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

TEST(MonitorConfig, TheCommandLineWinsOverTheFile) {
  const testing::TempDir dir;
  const std::string path = testing::write_file(
      dir.path(), "demodmon.toml", "boards = [\"a=usb:0@208\"]\ninterval = 500\ncount = 3\n");
  const char* argv[] = {"demodmon", "--config", path.c_str(), "--interval", "20"};
  const auto parsed = parse_monitor_options(5, argv, "");
  ASSERT_TRUE(parsed.options) << parsed.message;
  EXPECT_EQ(parsed.options->interval, std::chrono::milliseconds(20));
  EXPECT_EQ(parsed.options->count, 3u);
  EXPECT_EQ(parsed.options->boards.at(0).name, "a");
  testing::write_file(dir.path(), "demodmon.toml", "\ncount = 'x'\n");
  const auto bad = parse_monitor_options(3, argv, "");
  EXPECT_EQ(bad.exit_status, kExitUsage);
  EXPECT_EQ(bad.message,
            "demodmon: " + path + ":2: count: needs a whole number from 0 to 1000000000000");
}

}  // namespace
}  // namespace demodctl::monitor
