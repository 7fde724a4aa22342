#include "monitor/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <set>

#include "monitor/config_file.h"
#include "monitor/option_bounds.h"
#include "option_values/option_values.h"

namespace demodctl::monitor {
namespace {

ParsedMonitorOptions usage_error(const std::string& what) {
  ParsedMonitorOptions p;
  p.exit_status = kExitUsage;
  p.message = "demodmon: " + one_line(what);
  return p;
}

std::string range_error(const char* option, uint64_t min, uint64_t max, const std::string& text) {
  return std::string(option) + " needs a whole number from " + std::to_string(min) + " to " +
         std::to_string(max) + ", not '" + text + "'";
}

// ADDR:PORT, [IPV6]:PORT
std::optional<HttpOptions> parse_listen(const std::string& text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  std::string host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return std::nullopt;
    host = host.substr(1, host.size() - 2);
  }
  const auto port = whole_number(std::string_view(text).substr(colon + 1), 0, kMaxPort);
  if (!port) return std::nullopt;
  HttpOptions web;
  web.listen = host;
  web.port = static_cast<uint16_t>(*port);
  return web;
}

}  // namespace

ParsedMonitorOptions parse_monitor_options(int argc, const char* const* argv,
                                           const std::string& default_bus) {
  MonitorOptions o;
  // Numbers are taken as text and checked here: CLI11 would also take hex, exponents, "nan".
  std::string interval_text = "1000";
  std::string count_text = "0";
  std::string capture_every_text = "0";
  std::string http_text;
  std::vector<std::string> board_texts;
  std::vector<std::string> allow;
  std::vector<std::string> hosts;
  std::vector<std::string> words;
  bool captures_allowed = false;
  std::string config_path;

  CLI::App app{"demodmon: live lock, signal and constellation of demodulator boards", "demodmon"};
  app.add_option("--board", board_texts,
                 "a board: NAME=HOST:PORT/CHANNEL@ADDRESS[,SPEED] or NAME=usb:BUS@ADDRESS "
                 "(repeatable)")
      ->type_name("NAME=TARGET")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--interval", interval_text, "milliseconds between samples (10..3600000)")
      ->type_name("MS")
      ->capture_default_str();
  app.add_option("--count", count_text, "samples per board, then stop (0: until stopped)")
      ->type_name("N")
      ->capture_default_str();
  app.add_flag("--json", o.json, "one JSON object per line instead of text");
  app.add_option("--http", http_text, "serve the page, event stream and /metrics on ADDR:PORT")
      ->type_name("ADDR:PORT");
  app.add_option("--http-allow", allow, "admit only web peers in ADDR[/BITS] (repeatable)")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--http-host", hosts,
                 "a name the page may be reached by beyond the address (repeatable)")
      ->type_name("NAME")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--allow-captures", captures_allowed, "the page may ask for captures");
  app.add_option("--capture-every", capture_every_text, "a capture every N samples (0: never)")
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--capture-dir", o.capture_dir, "directory of the SigMF recordings")
      ->type_name("DIR")
      ->capture_default_str();
  app.add_option("--config", config_path,
                 "settings from a TOML file; the options given here win over it")
      ->type_name("FILE");
  app.add_option("target", words,
                 "one board in demodctl's layout: HOST PORT CHANNEL SPEED ADDRESS 1 | SPEED "
                 "ADDRESS 0");
  app.set_version_flag("-V,--version", "demodmon " DEMODCTL_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    ParsedMonitorOptions p;
    p.message = app.help();
    return p;
  } catch (const CLI::CallForVersion& e) {
    ParsedMonitorOptions p;
    p.message = std::string(e.what()) + "\n";
    return p;
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  }

  // The configuration file gives what the command line leaves out.
  if (!config_path.empty()) {
    const LoadedConfig loaded = load_monitor_config(config_path);
    if (!loaded.config) return usage_error(loaded.error);
    const MonitorConfig& c = *loaded.config;
    const auto unset = [&app](const char* option) { return app.count(option) == 0; };
    if (c.interval_ms && unset("--interval")) interval_text = std::to_string(*c.interval_ms);
    if (c.count && unset("--count")) count_text = std::to_string(*c.count);
    if (c.json && unset("--json")) o.json = *c.json;
    if (c.http_listen && unset("--http")) http_text = *c.http_listen;
    if (c.http_allow && unset("--http-allow")) allow = *c.http_allow;
    if (c.captures_allowed && unset("--allow-captures")) captures_allowed = *c.captures_allowed;
    if (c.capture_every && unset("--capture-every")) {
      capture_every_text = std::to_string(*c.capture_every);
    }
    if (c.capture_dir && unset("--capture-dir")) o.capture_dir = *c.capture_dir;
    if (board_texts.empty() && words.empty()) board_texts = c.boards;
  }

  const auto interval = whole_number(interval_text, kMinIntervalMs, kMaxIntervalMs);
  if (!interval)
    return usage_error(range_error("--interval", kMinIntervalMs, kMaxIntervalMs, interval_text));
  o.interval = std::chrono::milliseconds(*interval);
  const auto count = whole_number(count_text, 0, kMaxCount);
  if (!count) return usage_error(range_error("--count", 0, kMaxCount, count_text));
  o.count = *count;
  const auto every = whole_number(capture_every_text, 0, kMaxCount);
  if (!every) return usage_error(range_error("--capture-every", 0, kMaxCount, capture_every_text));
  o.capture_every = *every;
  if (o.capture_dir.empty()) return usage_error("--capture-dir needs a directory");

  if (!http_text.empty()) {
    auto web = parse_listen(http_text);
    if (!web) return usage_error("--http needs ADDR:PORT (PORT 0..65535), not '" + http_text + "'");
    web->allow = allow;
    web->hosts = hosts;
    web->captures_allowed = captures_allowed;
    o.http = web;
  } else if (!allow.empty() || captures_allowed) {
    return usage_error("--http-allow and --allow-captures need --http");
  } else if (!hosts.empty()) {
    return usage_error("--http-host needs --http");
  }

  if (!words.empty() && !board_texts.empty()) {
    return usage_error("give the boards either with --board or in demodctl's layout, not both");
  }
  if (!words.empty()) {
    auto target = parse_positional(words, default_bus);
    if (!target) return usage_error(target.error().cause);
    o.boards.push_back(std::move(*target));
  }
  std::set<std::string> names;
  for (const auto& text : board_texts) {
    auto target = parse_board_option(text);
    if (!target) return usage_error(target.error().cause);
    if (!names.insert(target->name).second) {
      return usage_error("--board " + target->name + " given twice");
    }
    o.boards.push_back(std::move(*target));
  }
  if (o.boards.empty()) {
    return usage_error("no board: give --board NAME=TARGET or demodctl's layout (see --help)");
  }
  ParsedMonitorOptions p;
  p.options = std::move(o);
  return p;
}

}  // namespace demodctl::monitor
