#include "server/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "option_values/option_values.h"
#include "server/listen_addresses.h"

namespace demodctl {
namespace {

constexpr double kMaxIdleSeconds = 24.0 * 3600.0;  // a day; longer values are a typo
constexpr double kMaxGraceSeconds = 3600.0;
constexpr double kMinSeconds = 0.001;  // the timers count whole milliseconds
constexpr double kMillisPerSecond = 1000.0;
constexpr uint64_t kMaxPort = 65535;
constexpr uint64_t kMaxClientsLimit = 1024;

ParsedOptions usage_error(const std::string& what) {
  ParsedOptions p;
  p.exit_status = kExitUsage;
  p.message = "regserver: " + one_line(what);
  return p;
}

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

ParsedOptions not_a_number(const char* option, const std::string& what, const std::string& min,
                           const std::string& max, const std::string& text) {
  return usage_error(std::string(option) + " needs " + what + " from " + min + " to " + max +
                     ", not '" + text + "'");
}

}  // namespace

ParsedOptions parse_regserver_options(int argc, const char* const* argv) {
  RegserverOptions o;
  // Numbers are taken as text and checked here: CLI11 would also take hex, exponents, "nan" and
  // "inf", and NaN passes every range comparison.
  std::string port_text = std::to_string(kDefaultPort);
  std::string clients_text = std::to_string(o.server.max_clients);
  std::string idle_text =
      number_text(static_cast<double>(o.server.idle_timeout.count()) / kMillisPerSecond);
  std::string grace_text =
      number_text(static_cast<double>(o.server.hello_grace.count()) / kMillisPerSecond);
  std::vector<std::string> allow;
  bool sim = false;
  bool i2c_dev = false;

  CLI::App app{"regserver: register server for the demodulator board (TCP)", "regserver"};
  app.add_option("--listen", o.server.listen,
                 "address or host name to listen on (every address of the name)")
      ->default_val("127.0.0.1");
  app.add_option("--port", port_text, "TCP port (0..65535), 0 for any free port")
      ->type_name("N")
      ->capture_default_str();
  auto* sim_flag = app.add_flag("--sim", sim, "serve the simulated board (default)");
  auto* dev_flag = app.add_flag("--i2c-dev", i2c_dev, "serve Linux /dev/i2c-N adapters");
  sim_flag->excludes(dev_flag);
  app.add_option("--scenario", o.scenario, "scenario file of the simulated board");
  app.add_option("--trace", o.trace,
                 "write a JSON Lines trace of every bus operation to FILE ('-': standard error)");
  app.add_option("--max-clients", clients_text, "most connections served at once (1..1024)")
      ->type_name("N")
      ->capture_default_str();
  app.add_option("--idle-timeout", idle_text,
                 "seconds before an idle client is closed (0.001..86400)")
      ->type_name("SEC")
      ->capture_default_str();
  app.add_option("--hello-grace", grace_text,
                 "seconds a new connection has to complete HELLO before it is closed (0.001..3600)")
      ->type_name("SEC")
      ->capture_default_str();
  app.add_option("--allow", allow,
                 "admit only peers in ADDR[/BITS] (repeatable, IPv4 or IPv6); default: any")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--read-only", o.server.read_only,
               "refuse every request that could put data on the bus: writes, reads of 2-byte "
               "registers (status READ_ONLY)");
  app.add_flag("--quiet", o.server.quiet, "no connection log on standard error");
  app.set_version_flag("-V,--version", "regserver " DEMODCTL_VERSION);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    ParsedOptions p;
    p.message = app.help();
    return p;
  } catch (const CLI::CallForVersion& e) {
    ParsedOptions p;
    p.message = std::string(e.what()) + "\n";
    return p;
  } catch (const CLI::ParseError& e) {
    return usage_error(e.what());
  }
  const std::optional<uint64_t> port = whole_number(port_text, 0, kMaxPort);
  if (!port) {
    return not_a_number("--port", "a whole number", "0", std::to_string(kMaxPort), port_text);
  }
  const std::optional<uint64_t> max_clients = whole_number(clients_text, 1, kMaxClientsLimit);
  if (!max_clients) {
    return not_a_number("--max-clients", "a whole number", "1", std::to_string(kMaxClientsLimit),
                        clients_text);
  }
  const std::optional<double> idle_seconds =
      decimal_number(idle_text, kMinSeconds, kMaxIdleSeconds);
  if (!idle_seconds) {
    return not_a_number("--idle-timeout", "a number of seconds", number_text(kMinSeconds),
                        number_text(kMaxIdleSeconds), idle_text);
  }
  const std::optional<double> grace_seconds =
      decimal_number(grace_text, kMinSeconds, kMaxGraceSeconds);
  if (!grace_seconds) {
    return not_a_number("--hello-grace", "a number of seconds", number_text(kMinSeconds),
                        number_text(kMaxGraceSeconds), grace_text);
  }
  auto addresses = resolve_listen_addresses(o.server.listen, kResolveBound);
  if (!addresses) return usage_error(addresses.error().cause);
  o.server.addresses = *addresses;
  for (const std::string& net : allow) {
    if (auto added = o.server.allow.add(net); !added) return usage_error(added.error().cause);
  }
  if (i2c_dev) o.backend = BackendKind::kI2cDev;
  if (i2c_dev && !o.scenario.empty()) return usage_error("--scenario needs the simulated board");
  o.server.port = static_cast<uint16_t>(*port);
  o.server.max_clients = static_cast<size_t>(*max_clients);
  // Finite and within a day here, so the rounding cannot overflow.
  o.server.idle_timeout = std::chrono::milliseconds(std::llround(*idle_seconds * kMillisPerSecond));
  o.server.hello_grace = std::chrono::milliseconds(std::llround(*grace_seconds * kMillisPerSecond));
  ParsedOptions p;
  p.options = std::move(o);
  return p;
}

}  // namespace demodctl
