// regserver: serves register reads and writes of I2C buses over TCP (docs/protocol.md).
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "files/standard_descriptors.h"
#include "i2c/trace_log.h"
#include "server/bus_backend.h"
#include "server/listen_addresses.h"
#include "server/options.h"
#include "server/server.h"
#include "server/socket_activation.h"
#include "sim/sim_board.h"

namespace {

constexpr int kExitRuntime = 1;

int fail(int status, const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
  return status;
}

// What a service manager handed over, read from the environment; the variables are removed, so
// nothing this process starts takes them for its own.
demodctl::HandOver read_hand_over() {
  const auto text = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value != nullptr ? value : "");
  };
  demodctl::HandOver hand_over{text("LISTEN_PID"), text("LISTEN_FDS")};
  unsetenv("LISTEN_PID");
  unsetenv("LISTEN_FDS");
  unsetenv("LISTEN_FDNAMES");
  return hand_over;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace demodctl;
  // Before anything is opened: a closed 0..2 would otherwise be the trace, the listening socket or
  // a client's connection, and the log and the "listening on" line would be written into it.
  if (!occupy_standard_descriptors().usable) return kExitRuntime;
  const ParsedOptions parsed = parse_regserver_options(argc, argv);
  if (!parsed.options) {
    if (parsed.exit_status != 0) return fail(parsed.exit_status, parsed.message);
    std::fputs(parsed.message.c_str(), stdout);
    return 0;
  }
  const RegserverOptions& opt = *parsed.options;
  // Sockets a service manager handed over are taken first, before any file is opened.
  std::vector<int> handed_over;
  if (Result<void> taken = take_handed_over_listeners(read_hand_over(), &handed_over); !taken) {
    return fail(kExitRuntime, "regserver: " + taken.error().cause);
  }
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);  // a trace over the file size limit is a write error, not death

  std::unique_ptr<BusBackend> backend;
  if (opt.backend == BackendKind::kSim) {
    Result<std::unique_ptr<SimBoard>> board =
        opt.scenario.empty() ? SimBoard::make_default() : SimBoard::from_file(opt.scenario);
    if (!board) return fail(kExitUsage, "regserver: " + board.error().cause);
    backend = std::make_unique<SimBackend>(std::move(*board));
  } else {
    backend = std::make_unique<I2cDevBackend>();
  }

  std::unique_ptr<TraceLog> trace;
  std::unique_ptr<TracingBackend> traced;
  BusBackend* serving = backend.get();
  if (!opt.trace.empty()) {
    Result<std::unique_ptr<TraceLog>> opened = TraceLog::create(opt.trace);
    if (!opened) return fail(kExitUsage, "regserver: " + opened.error().cause);
    trace = std::move(*opened);
    traced = std::make_unique<TracingBackend>(*backend, *trace);
    serving = traced.get();
  }

  ServerConfig config = opt.server;
  config.handle_signals = true;
  config.handed_over = handed_over;
  Result<std::unique_ptr<Server>> created = Server::create(*serving, config);
  if (!created) return fail(kExitRuntime, "regserver: " + created.error().cause);
  std::unique_ptr<Server> server = std::move(*created);
  for (size_t i = 0; i < server->listener_count(); ++i) {
    std::printf("listening on %s\n",
                address_port_text(server->address(i), server->port(i)).c_str());
    if (config.allow.empty() && !is_loopback_address(server->address(i))) {
      std::fprintf(stderr,
                   "regserver: warning: listening on %s without --allow: any host that reaches "
                   "this port can use the bus\n",
                   server->address(i).c_str());
    }
  }
  std::fflush(stdout);
  server->run();
  return 0;
}
