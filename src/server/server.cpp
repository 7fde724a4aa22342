#include "server/server.h"

#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <list>
#include <unordered_map>

#include "protocol/wire.h"
#include "server/asio_include.h"
#include "server/linger.h"
#include "server/listen_addresses.h"
#include "server/server_log.h"
#include "server/session.h"

namespace demodctl {

namespace {
// After a failed accept (e.g. out of file descriptors) wait this long before the next one, so
// the loop does not spin.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};
// A refused connection holds its descriptor no longer than this after its reason frame.
constexpr std::chrono::milliseconds kRefusalLinger{250};
// With --port 0 and several addresses: new free ports tried before giving up.
constexpr int kFreePortAttempts = 8;

std::string peer_text(const asio::ip::tcp::endpoint& peer) {
  return address_port_text(peer.address().to_string(), peer.port());
}

// "1 connection", "2 connections"
std::string connections(size_t n) {
  return std::to_string(n) + (n == 1 ? " connection" : " connections");
}

bool admitted_by(const AllowList& allow, const asio::ip::address& address) {
  if (address.is_v4()) return allow.admits(address.to_v4().to_bytes());
  return allow.admits(address.to_v6().to_bytes());
}

// Opens, binds and listens on `endpoint`. `v6_only` when the IPv4 addresses have sockets of their
// own: an IPv6 wildcard would otherwise claim the port on IPv4 too.
asio::error_code listen_on(asio::ip::tcp::acceptor& acc, const asio::ip::tcp::endpoint& endpoint,
                           bool v6_only) {
  asio::error_code ec;
  acc.open(endpoint.protocol(), ec);
  if (!ec) acc.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec && v6_only && endpoint.address().is_v6()) acc.set_option(asio::ip::v6_only(true), ec);
  if (!ec) acc.bind(endpoint, ec);
  if (!ec) acc.listen(asio::socket_base::max_listen_connections, ec);
  return ec;
}

}  // namespace

bool is_loopback_address(const std::string& address) {
  asio::error_code ec;
  const asio::ip::address a = asio::ip::make_address(address, ec);
  if (ec) return false;
  // ::ffff:127.0.0.1 is an IPv4 loopback address reached through an IPv6 socket.
  if (a.is_v6() && a.to_v6().is_v4_mapped()) {
    return asio::ip::make_address_v4(asio::ip::v4_mapped, a.to_v6()).is_loopback();
  }
  return a.is_loopback();
}

// One listening socket and the timer that spaces its accepts after a failure.
struct Listener {
  explicit Listener(asio::io_context& io) : acceptor(io), retry_timer(io) {}
  asio::ip::tcp::acceptor acceptor;
  asio::steady_timer retry_timer;
};

struct Server::Impl : SessionOwner {
  Impl(BusBackend& b, const ServerConfig& c)
      : backend(b), config(c), log(c.quiet), signals(io), summary_timer(io) {
    rules.idle_timeout = c.idle_timeout;
    rules.hello_grace = c.hello_grace;
    rules.read_only = c.read_only;
  }

  void forget(Session* session) override { sessions.erase(session); }
  size_t open_sessions() const override { return sessions.size(); }

  void accept_next(Listener& l) {
    l.acceptor.async_accept([this, &l](const asio::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !l.acceptor.is_open()) return;
      if (ec) {
        log.line("accept failed: " + ec.message());
        l.retry_timer.expires_after(kAcceptRetryDelay);
        l.retry_timer.async_wait([this, &l](const asio::error_code& wait_ec) {
          if (!wait_ec) accept_next(l);
        });
        return;
      }
      admit(std::move(socket));
      accept_next(l);
    });
  }

  // Once a period, the summaries of peers whose refusals were only counted.
  void summarise_refusals() {
    summary_timer.expires_after(ServerLog::kRefusalPeriod);
    summary_timer.async_wait([this](const asio::error_code& ec) {
      if (ec) return;
      log.end_periods();
      summarise_refusals();
    });
  }

  void admit(asio::ip::tcp::socket socket) {
    asio::error_code ec;
    const asio::ip::tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) return;  // already gone
    const std::string who = peer_text(peer);
    if (!admitted_by(config.allow, peer.address())) {
      log.refusal(who, "refused " + who + ": NOT_ALLOWED");
      refuse(std::move(socket), wire::Status::kNotAllowed,
             "address " + peer.address().to_string() + " not allowed");
      return;
    }
    if (sessions.size() >= config.max_clients) {
      log.refusal(who, "refused " + who + ": BUSY (" + connections(sessions.size()) + ")");
      refuse(std::move(socket), wire::Status::kBusy,
             "too many clients, max " + std::to_string(config.max_clients));
      return;
    }
    socket.set_option(asio::ip::tcp::no_delay(true), ec);
    auto session = std::make_shared<Session>(std::move(socket), backend, *this, rules, log, who);
    sessions.emplace(session.get(), session);
    log.line("accepted " + who + " (" + std::to_string(sessions.size()) + " of " +
             std::to_string(config.max_clients) + ")");
    session->start();
  }

  // An unsolicited reply to HELLO (seq 0) with the reason, then the connection ends. The frame
  // is small enough for the empty send buffer of a new connection, so it is written without
  // waiting; a peer that does not read it loses it.
  void refuse(asio::ip::tcp::socket socket, wire::Status status, const std::string& reason) {
    const std::vector<uint8_t> frame =
        wire::encode_error_reply(static_cast<uint8_t>(wire::Opcode::kHello), status, 0, reason);
    asio::error_code ignored;
    socket.non_blocking(true, ignored);
    socket.write_some(asio::buffer(frame), ignored);
    close_gracefully(std::move(socket), kRefusalLinger);
  }

  // Listens on every configured address on one port. An address of a family the host lacks (no
  // IPv6 at all, or no ::1) is skipped, with a log line, while another one can be listened on.
  // With port 0 the first socket's free port is used for all; should that port be taken on
  // another address, the set is tried again on a new free port.
  Result<void> listen_on_addresses() {
    for (int attempt = 0; attempt < kFreePortAttempts; ++attempt) {
      listeners.clear();
      std::vector<std::string> skipped;
      uint16_t port = config.port;
      bool port_taken = false;
      for (const std::string& text : config.addresses) {
        asio::error_code ec;
        const asio::ip::address address = asio::ip::make_address(text, ec);
        if (ec) {
          return Fault{FaultKind::open_error, "bad listen address '" + text + "'"};
        }
        Listener& l = listeners.emplace_back(io);
        ec = listen_on(l.acceptor, asio::ip::tcp::endpoint(address, port),
                       config.addresses.size() > 1);
        if (!ec) {
          if (port == 0) port = l.acceptor.local_endpoint(ec).port();
          continue;
        }
        listeners.pop_back();
        const std::string what =
            "cannot listen on " + address_port_text(text, port) + ": " + ec.message();
        if (ec == asio::error::address_in_use && config.port == 0 && port != 0) {
          port_taken = true;
          break;
        }
        const bool family_missing =
            ec == asio::error::address_family_not_supported ||
            ec == asio::error_code(EADDRNOTAVAIL, asio::error::get_system_category());
        if (!family_missing) {
          return Fault{FaultKind::open_error, what};
        }
        skipped.push_back(what);
      }
      if (port_taken) continue;
      if (listeners.empty()) {
        return Fault{FaultKind::open_error, skipped.front()};
      }
      for (const std::string& what : skipped) log.line(what + " (skipped)");
      return {};
    }
    listeners.clear();
    return Fault{FaultKind::open_error,
                 "cannot find a port free on every address of '" + config.listen + "'"};
  }

  void shut_down() {
    asio::error_code ignored;
    for (Listener& l : listeners) {
      l.acceptor.close(ignored);
      l.retry_timer.cancel();
    }
    signals.cancel(ignored);
    summary_timer.cancel();
    auto open = sessions;  // close() erases from `sessions`
    for (auto& [ptr, session] : open) session->close("server stopping");
    log.end_periods(/*stopping=*/true);
    io.stop();
  }

  asio::io_context io;
  BusBackend& backend;
  ServerConfig config;
  SessionRules rules;
  ServerLog log;
  std::list<Listener> listeners;  // a list: the accept handlers hold references
  asio::signal_set signals;
  asio::steady_timer summary_timer;
  std::unordered_map<Session*, std::shared_ptr<Session>> sessions;
};

namespace {

// Takes over a socket that is already bound and listening.
asio::error_code adopt(asio::ip::tcp::acceptor& acc, int fd) {
  asio::error_code ec;
  sockaddr_storage bound{};
  socklen_t size = sizeof bound;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
    return asio::error_code(errno, asio::error::get_system_category());
  }
  acc.assign(bound.ss_family == AF_INET6 ? asio::ip::tcp::v6() : asio::ip::tcp::v4(), fd, ec);
  return ec;
}

}  // namespace

Result<std::unique_ptr<Server>> Server::create(BusBackend& backend, const ServerConfig& config) {
  auto impl = std::make_unique<Impl>(backend, config);
  asio::error_code ec;
  if (config.handed_over.empty()) {
    if (Result<void> listening = impl->listen_on_addresses(); !listening) return listening.error();
  }
  for (const int fd : config.handed_over) {
    ec = adopt(impl->listeners.emplace_back(impl->io).acceptor, fd);
    if (ec) {
      return Fault{FaultKind::open_error,
                   "cannot take handed-over socket " + std::to_string(fd) + ": " + ec.message()};
    }
  }
  if (config.handle_signals) {
    impl->signals.add(SIGINT, ec);
    impl->signals.add(SIGTERM, ec);
    Impl* raw = impl.get();
    impl->signals.async_wait([raw](const asio::error_code& wait_ec, int) {
      if (!wait_ec) raw->shut_down();
    });
  }
  for (Listener& l : impl->listeners) impl->accept_next(l);
  if (!config.quiet) impl->summarise_refusals();
  return std::unique_ptr<Server>(new Server(std::move(impl)));
}

Server::Server(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Server::~Server() = default;

size_t Server::listener_count() const { return impl_->listeners.size(); }

std::string Server::address(size_t listener) const {
  asio::error_code ec;
  return std::next(impl_->listeners.begin(), static_cast<std::ptrdiff_t>(listener))
      ->acceptor.local_endpoint(ec)
      .address()
      .to_string();
}

uint16_t Server::port(size_t listener) const {
  asio::error_code ec;
  return std::next(impl_->listeners.begin(), static_cast<std::ptrdiff_t>(listener))
      ->acceptor.local_endpoint(ec)
      .port();
}

void Server::run() { impl_->io.run(); }

void Server::stop() {
  Impl* impl = impl_.get();
  asio::post(impl->io, [impl] { impl->shut_down(); });
}

}  // namespace demodctl
