#include "server/options.h"

#include <arpa/inet.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <limits>

namespace demodctl {
namespace {

constexpr double kMaxIdleSeconds = 24.0 * 3600.0;  // a day; longer values are a typo
constexpr double kMaxGraceSeconds = 3600.0;
constexpr size_t kMaxClientsLimit = 1024;

std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

ParsedOptions usage_error(const std::string& what) {
  ParsedOptions p;
  p.exit_status = kExitUsage;
  p.message = "regserver: " + one_line(what);
  return p;
}

// A numeric IPv4 or IPv6 address (names are not resolved: the server binds exactly this).
bool is_numeric_address(const std::string& text) {
  unsigned char scratch[sizeof(struct in6_addr)];
  return inet_pton(AF_INET, text.c_str(), scratch) == 1 ||
         inet_pton(AF_INET6, text.c_str(), scratch) == 1;
}

}  // namespace

ParsedOptions parse_regserver_options(int argc, const char* const* argv) {
  RegserverOptions o;
  uint32_t port = kDefaultPort;
  size_t max_clients = o.server.max_clients;
  double idle_seconds = static_cast<double>(o.server.idle_timeout.count()) / 1000.0;
  double grace_seconds = static_cast<double>(o.server.hello_grace.count()) / 1000.0;
  std::vector<std::string> allow;
  bool sim = false;
  bool i2c_dev = false;

  CLI::App app{"regserver: register server for the demodulator board (TCP)", "regserver"};
  app.add_option("--listen", o.server.listen, "address to listen on (numeric)")
      ->default_val("127.0.0.1");
  app.add_option("--port", port, "TCP port, 0 for any free port")
      ->check(CLI::Range(0u, 65535u))
      ->default_val(kDefaultPort);
  auto* sim_flag = app.add_flag("--sim", sim, "serve the simulated board (default)");
  auto* dev_flag = app.add_flag("--i2c-dev", i2c_dev, "serve Linux /dev/i2c-N adapters");
  sim_flag->excludes(dev_flag);
  app.add_option("--scenario", o.scenario, "scenario file of the simulated board");
  app.add_option("--trace", o.trace,
                 "write a JSON Lines trace of every bus operation to FILE ('-': standard error)");
  app.add_option("--max-clients", max_clients, "most connections served at once")
      ->check(CLI::Range(size_t{1}, kMaxClientsLimit))
      ->default_val(max_clients);
  app.add_option("--idle-timeout", idle_seconds, "seconds before an idle client is closed")
      ->check(CLI::Range(0.001, kMaxIdleSeconds))
      ->default_val(idle_seconds);
  app.add_option("--hello-grace", grace_seconds,
                 "seconds a new connection has to complete HELLO before it is closed")
      ->check(CLI::Range(0.001, kMaxGraceSeconds))
      ->default_val(grace_seconds);
  app.add_option("--allow", allow,
                 "admit only peers in ADDR[/BITS] (repeatable, IPv4 or IPv6); default: any")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag("--read-only", o.server.read_only, "refuse every WRITE (status READ_ONLY)");
  app.add_flag("--quiet", o.server.quiet, "no connection log on standard error");
  app.set_version_flag("--version", "regserver " DEMODCTL_VERSION);

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
  if (!is_numeric_address(o.server.listen)) {
    return usage_error("--listen needs a numeric address, not '" + o.server.listen + "'");
  }
  for (const std::string& net : allow) {
    std::string error;
    if (!o.server.allow.add(net, &error)) return usage_error(error);
  }
  if (i2c_dev) o.backend = BackendKind::kI2cDev;
  if (i2c_dev && !o.scenario.empty()) return usage_error("--scenario needs the simulated board");
  o.server.port = static_cast<uint16_t>(port);
  o.server.max_clients = max_clients;
  o.server.idle_timeout = std::chrono::milliseconds(std::llround(idle_seconds * 1000.0));
  o.server.hello_grace = std::chrono::milliseconds(std::llround(grace_seconds * 1000.0));
  ParsedOptions p;
  p.options = std::move(o);
  return p;
}

}  // namespace demodctl
