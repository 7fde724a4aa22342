#include "server/linger.h"

#include <array>
#include <memory>

namespace demodctl {
namespace {

struct Lingering : std::enable_shared_from_this<Lingering> {
  explicit Lingering(asio::ip::tcp::socket s)
      : socket(std::move(s)), timer(socket.get_executor()) {}

  void start(std::chrono::milliseconds linger) {
    asio::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    timer.expires_after(linger);
    timer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec) self->finish();
    });
    drain();
  }

  void drain() {
    socket.async_read_some(asio::buffer(scratch),
                           [self = shared_from_this()](const asio::error_code& ec, size_t) {
                             if (ec) {
                               self->finish();  // the peer closed (or the socket was closed)
                             } else {
                               self->drain();
                             }
                           });
  }

  void finish() {
    asio::error_code ignored;
    timer.cancel();
    socket.close(ignored);
  }

  asio::ip::tcp::socket socket;
  asio::steady_timer timer;
  std::array<uint8_t, 512> scratch{};
};

}  // namespace

void close_gracefully(asio::ip::tcp::socket socket, std::chrono::milliseconds linger) {
  std::make_shared<Lingering>(std::move(socket))->start(linger);
}

}  // namespace demodctl
