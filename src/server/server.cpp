#include "server/server.h"

#include <csignal>
#include <unordered_map>

#include "protocol/wire.h"
#include "server/asio_include.h"
#include "server/linger.h"
#include "server/session.h"

namespace demodctl {

namespace {
// After a failed accept (e.g. out of file descriptors) wait this long before the next one, so
// the loop does not spin.
constexpr std::chrono::milliseconds kAcceptRetryDelay{100};
}  // namespace

struct Server::Impl : SessionOwner {
  Impl(BusBackend& b, const ServerConfig& c)
      : backend(b), config(c), acceptor(io), signals(io), retry_timer(io) {}

  void forget(Session* session) override { sessions.erase(session); }

  void accept_next() {
    acceptor.async_accept([this](const asio::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec == asio::error::operation_aborted || !acceptor.is_open()) return;
      if (ec) {
        retry_timer.expires_after(kAcceptRetryDelay);
        retry_timer.async_wait([this](const asio::error_code& wait_ec) {
          if (!wait_ec) accept_next();
        });
        return;
      }
      admit(std::move(socket));
      accept_next();
    });
  }

  void admit(asio::ip::tcp::socket socket) {
    asio::error_code ignored;
    socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    if (sessions.size() >= config.max_clients) {
      refuse(std::move(socket));
      return;
    }
    auto session =
        std::make_shared<Session>(std::move(socket), backend, *this, config.idle_timeout);
    sessions.emplace(session.get(), session);
    session->start();
  }

  // Over the cap: an unsolicited BUSY reply (to HELLO, seq 0), then the connection ends.
  void refuse(asio::ip::tcp::socket socket) {
    struct Refusal {
      asio::ip::tcp::socket socket;
      std::vector<uint8_t> frame;
    };
    auto r = std::make_shared<Refusal>(Refusal{
        std::move(socket),
        wire::encode_error_reply(static_cast<uint8_t>(wire::Opcode::kHello), wire::Status::kBusy, 0,
                                 "too many clients, max " + std::to_string(config.max_clients))});
    asio::async_write(r->socket, asio::buffer(r->frame), [r](const asio::error_code&, size_t) {
      close_gracefully(std::move(r->socket));
    });
  }

  void shut_down() {
    asio::error_code ignored;
    acceptor.close(ignored);
    signals.cancel(ignored);
    retry_timer.cancel();
    auto open = sessions;  // close() erases from `sessions`
    for (auto& [ptr, session] : open) session->close();
    io.stop();
  }

  asio::io_context io;
  BusBackend& backend;
  ServerConfig config;
  asio::ip::tcp::acceptor acceptor;
  asio::signal_set signals;
  asio::steady_timer retry_timer;
  std::unordered_map<Session*, std::shared_ptr<Session>> sessions;
};

std::unique_ptr<Server> Server::create(BusBackend& backend, const ServerConfig& config,
                                       std::string* error) {
  auto impl = std::make_unique<Impl>(backend, config);
  asio::error_code ec;
  const asio::ip::address address = asio::ip::make_address(config.listen, ec);
  if (ec) {
    *error = "bad listen address '" + config.listen + "'";
    return nullptr;
  }
  const asio::ip::tcp::endpoint endpoint(address, config.port);
  auto& acc = impl->acceptor;
  acc.open(endpoint.protocol(), ec);
  if (!ec) acc.set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acc.bind(endpoint, ec);
  if (!ec) acc.listen(asio::socket_base::max_listen_connections, ec);
  if (!ec) {
    if (config.handle_signals) {
      impl->signals.add(SIGINT, ec);
      impl->signals.add(SIGTERM, ec);
      Impl* raw = impl.get();
      impl->signals.async_wait([raw](const asio::error_code& wait_ec, int) {
        if (!wait_ec) raw->shut_down();
      });
    }
    impl->accept_next();
    return std::unique_ptr<Server>(new Server(std::move(impl)));
  }
  *error =
      "cannot listen on " + config.listen + ":" + std::to_string(config.port) + ": " + ec.message();
  return nullptr;
}

Server::Server(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Server::~Server() = default;

std::string Server::address() const {
  asio::error_code ec;
  return impl_->acceptor.local_endpoint(ec).address().to_string();
}

uint16_t Server::port() const {
  asio::error_code ec;
  return impl_->acceptor.local_endpoint(ec).port();
}

void Server::run() { impl_->io.run(); }

void Server::stop() {
  Impl* impl = impl_.get();
  asio::post(impl->io, [impl] { impl->shut_down(); });
}

}  // namespace demodctl
