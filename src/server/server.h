// regserver's TCP front: one single-threaded Asio event loop that accepts clients, decodes their
// requests and performs them on the backend, one bus transaction at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/allow_list.h"
#include "result/result.h"
#include "server/bus_backend.h"

namespace demodctl {

struct ServerConfig {
  std::string listen = "127.0.0.1";                    // as given, for messages
  std::vector<std::string> addresses = {"127.0.0.1"};  // numeric: what `listen` resolved to
  uint16_t port = 0;                                   // 0: any free port
  size_t max_clients = 16;
  std::chrono::milliseconds idle_timeout{30000};
  std::chrono::milliseconds hello_grace{3000};  // a connection without HELLO by then is closed
  AllowList allow;                              // empty: any peer that reaches the port
  bool read_only = false;                       // requests putting data on the bus: READ_ONLY
  bool quiet = false;                           // no log lines on standard error
  bool handle_signals = false;                  // stop on SIGINT / SIGTERM
  std::vector<int> handed_over;  // listening sockets to serve instead of binding addresses:port
};

// True when `address` (numeric) is a loopback address: listening there admits local peers only.
bool is_loopback_address(const std::string& address);

class Server {
 public:
  // Binds and listens on every address (or takes the handed-over sockets); FaultKind::open_error
  // (one line) when that fails. An address of a family the host lacks is skipped (and logged)
  // while another one can be listened on. With port 0 the first socket's free port is taken
  // for all of them.
  static Result<std::unique_ptr<Server>> create(BusBackend& backend, const ServerConfig& config);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // How many sockets it listens on, and the bound address as text and the bound port of each.
  size_t listener_count() const;
  std::string address(size_t listener = 0) const;
  uint16_t port(size_t listener = 0) const;

  // Serves until stop() or, with handle_signals, SIGINT / SIGTERM.
  void run();
  // Closes the listener and every connection; safe to call from any thread.
  void stop();

  struct Impl;

 private:
  explicit Server(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace demodctl
