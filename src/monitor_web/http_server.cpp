#include "monitor_web/http_server.h"

#include <array>
#include <chrono>
#include <exception>
#include <map>
#include <thread>

#include "monitor_web/asio_include.h"

namespace demodctl::monitor {
namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A reply (or one batch of an event stream) must be taken by the client within this.
constexpr auto kWriteBound = 5s;
// After a reply that ends the connection, what the client still sends is read and dropped for
// this long, so the close does not reset the connection before the client read the reply.
constexpr auto kLingerBound = 1s;
// A silent stream sends a comment this often, so a client that went away is noticed.
constexpr auto kStreamKeepAlive = 15s;
// After a failed accept (out of descriptors), the next one is tried this much later.
constexpr auto kAcceptRetry = 100ms;
// What the kernel holds for one client: a client that stopped reading is then held back by its
// bounded queue, not by megabytes of socket buffer.
constexpr int kSendBufferBytes = 256 << 10;
constexpr size_t kReadChunk = 4 << 10;

constexpr int kMisdirected = 421;
constexpr int kInternalError = 500;

const char* reason(int status) {
  static const std::map<int, const char*> kReasons = {
      {200, "OK"},
      {202, "Accepted"},
      {400, "Bad Request"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {408, "Request Timeout"},
      {413, "Payload Too Large"},
      {414, "URI Too Long"},
      {421, "Misdirected Request"},
      {431, "Request Header Fields Too Large"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {503, "Service Unavailable"},
  };
  const auto it = kReasons.find(status);
  return it == kReasons.end() ? "Unknown" : it->second;
}

std::vector<uint8_t> bytes_of(const asio::ip::address& address) {
  return address_bytes(address.to_string());
}

// What every connection shares: the handler, the names it answers to, the count per peer.
struct Shared {
  Shared(HttpListen&& l, HttpServer::Handler&& h) : listen(std::move(l)), handler(std::move(h)) {}
  HttpListen listen;
  HttpServer::Handler handler;
  uint16_t port = 0;
  std::map<std::string, size_t> per_peer;  // by the peer address's bytes
  size_t total = 0;
};

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(Shared& shared, tcp::socket socket, std::string peer, std::vector<uint8_t> local)
      : shared_(shared),
        socket_(std::move(socket)),
        deadline_(socket_.get_executor()),
        tick_(socket_.get_executor()),
        peer_(std::move(peer)),
        local_(std::move(local)) {}

  ~Connection() {
    if (--shared_.per_peer[peer_] == 0) shared_.per_peer.erase(peer_);
    --shared_.total;
    if (done_) done_();
  }

  void await_request() {
    reading_ = true;
    arm(std::chrono::seconds(kRequestDeadlineSec));
    read_request();
  }

 private:
  void arm(Clock::duration bound) {
    armed_ = true;
    deadline_.expires_after(bound);
    deadline_.async_wait([weak = weak_from_this()](const asio::error_code& ec) {
      const auto self = weak.lock();
      if (!ec && self) self->expired();
    });
  }

  void expired() {
    // A wait that was re-armed or disarmed after it had already fired is stale.
    if (!armed_ || deadline_.expiry() > Clock::now()) return;
    if (lingering_ || !reading_ || in_.empty()) return close();
    // A request begun and not finished in time: said so, as far as the socket takes it at once.
    static const std::string kTimeout =
        "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\n"
        "Content-Length: 0\r\n\r\n";
    asio::error_code ignored;
    socket_.non_blocking(true, ignored);
    socket_.write_some(asio::buffer(kTimeout), ignored);
    finish();
  }

  void close() {
    asio::error_code ignored;
    socket_.close(ignored);
    deadline_.cancel();
    tick_.cancel();
    armed_ = false;
  }

  // Ends the connection after its last reply: the sending side first, then reads until the
  // client closes too or the linger bound passes.
  void finish() {
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    lingering_ = true;
    arm(kLingerBound);
    if (!read_pending_) read_some();
  }

  void read_some() {
    read_pending_ = true;
    socket_.async_read_some(asio::buffer(chunk_),
                            [self = shared_from_this()](const asio::error_code& ec, size_t n) {
                              self->read_pending_ = false;
                              if (ec) return self->close();
                              if (self->lingering_) return self->read_some();
                              self->in_.append(self->chunk_.data(), n);
                              self->read_request();
                            });
  }

  // Serves the request once its head and body are in; a pipelined one may be in already.
  void read_request() {
    const size_t blank = in_.find("\r\n\r\n");
    if (blank == std::string::npos) {
      if (const int status = head_overflow(in_)) return refuse(status);
      return read_some();
    }
    const size_t head_size = blank + 4;
    ParsedHead parsed = parse_request_head(std::string_view(in_).substr(0, head_size));
    if (!parsed.request) return refuse(parsed.status);
    const size_t size = head_size + parsed.request->content_length;
    if (in_.size() < size) return read_some();
    in_.erase(0, size);
    reading_ = false;
    serve(*parsed.request);
  }

  void refuse(int status) { reply(text_response(status, reason(status)), false); }

  void serve(const HttpRequest& req) {
    if (!shared_.listen.hosts.admits(req.field("host"), shared_.port, local_)) {
      return reply(text_response(kMisdirected, "this server is not '" + req.field("host") + "'"),
                   false);
    }
    HttpResponse res;
    try {
      res = shared_.handler(req);
    } catch (const std::exception& e) {  // out of memory, say: this request fails, not the server
      res = text_response(kInternalError, e.what());
    }
    if (res.stream) return open_stream(std::move(res));
    reply(std::move(res), req.keep_alive(), req.method == "HEAD");
  }

  std::string head_of(const HttpResponse& res, bool keep, bool stream) const {
    std::string head = "HTTP/1.1 " + std::to_string(res.status) + " " + reason(res.status) +
                       "\r\nContent-Type: " + res.content_type + "\r\n";
    if (!stream) head += "Content-Length: " + std::to_string(res.body->size()) + "\r\n";
    head += "X-Content-Type-Options: nosniff\r\nCache-Control: no-store\r\n";
    for (const auto& [name, value] : res.fields) head += name + ": " + value + "\r\n";
    return head + (keep ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n");
  }

  void reply(HttpResponse res, bool keep, bool head_only = false) {
    auto head = std::make_shared<const std::string>(head_of(res, keep, false));
    auto body = head_only ? std::make_shared<const std::string>() : res.body;
    arm(kWriteBound);
    const std::array<asio::const_buffer, 2> buffers = {asio::buffer(*head), asio::buffer(*body)};
    asio::async_write(
        socket_, buffers,
        [self = shared_from_this(), head, body, keep](const asio::error_code& ec, size_t) {
          if (ec) return self->close();
          if (!keep) return self->finish();
          self->await_request();
        });
  }

  void open_stream(HttpResponse res) {
    stream_ = res.stream;
    done_ = std::move(res.done);
    // The publishing thread wakes the stream (never waits for it); the server's thread writes.
    stream_->set_waker([weak = weak_from_this(), executor = socket_.get_executor()] {
      asio::post(executor, [weak] {
        if (const auto self = weak.lock()) self->pump();
      });
    });
    send(head_of(res, false, true) + *res.body);
    keep_alive();
  }

  void pump() {
    if (writing_ || !socket_.is_open()) return;
    const std::vector<std::string> messages = stream_->take(std::chrono::milliseconds(0));
    if (stream_->closed()) return close();
    std::string text;
    for (const std::string& m : messages) text += m;
    if (!text.empty()) send(std::move(text));
  }

  void send(std::string text) {
    writing_ = true;
    auto data = std::make_shared<const std::string>(std::move(text));
    arm(kWriteBound);
    asio::async_write(socket_, asio::buffer(*data),
                      [self = shared_from_this(), data](const asio::error_code& ec, size_t) {
                        self->writing_ = false;
                        self->armed_ = false;
                        if (ec) return self->close();
                        self->pump();
                      });
  }

  void keep_alive() {
    tick_.expires_after(kStreamKeepAlive);
    tick_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (ec || !self->socket_.is_open()) return;
      if (!self->writing_) self->send(":\n\n");
      self->keep_alive();
    });
  }

  Shared& shared_;
  tcp::socket socket_;
  asio::steady_timer deadline_;
  asio::steady_timer tick_;
  const std::string peer_;
  const std::vector<uint8_t> local_;
  std::array<char, kReadChunk> chunk_{};
  std::string in_;  // received, not yet served
  bool armed_ = false;
  bool reading_ = false;
  bool read_pending_ = false;
  bool lingering_ = false;
  bool writing_ = false;
  std::shared_ptr<EventQueue> stream_;
  std::function<void()> done_;
};

class AsioHttpServer final : public HttpServer {
 public:
  AsioHttpServer(HttpListen&& listen, Handler&& handler)
      : shared_(std::move(listen), std::move(handler)) {}
  ~AsioHttpServer() override { stop(); }

  Result<void> listen() {
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(shared_.listen.address, ec);
    const tcp::endpoint endpoint(address, shared_.listen.port);
    if (!ec) acceptor_.open(endpoint.protocol(), ec);
    if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec) acceptor_.bind(endpoint, ec);
    if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
      const std::string host =
          address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
      return Fault{FaultKind::open_error, "cannot listen on " + host + ":" +
                                              std::to_string(shared_.listen.port) + ": " +
                                              ec.message()};
    }
    shared_.port = acceptor_.local_endpoint().port();
    accept();
    thread_ = std::thread([this] { io_.run(); });
    return {};
  }

  uint16_t port() const override { return shared_.port; }

  void stop() override {
    io_.stop();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void accept() {
    acceptor_.async_accept([this](const asio::error_code& ec, tcp::socket socket) {
      if (ec == asio::error::operation_aborted) return;
      if (!ec) {
        admit(std::move(socket));
        return accept();
      }
      retry_.expires_after(kAcceptRetry);
      retry_.async_wait([this](const asio::error_code& wait_ec) {
        if (!wait_ec) accept();
      });
    });
  }

  // Refused peers are closed before anything of theirs is read.
  void admit(tcp::socket socket) {
    asio::error_code ec;
    const std::vector<uint8_t> peer = bytes_of(socket.remote_endpoint(ec).address());
    if (ec) return;
    const std::vector<uint8_t> local = bytes_of(socket.local_endpoint(ec).address());
    if (ec || !shared_.listen.allow.admits(peer) || shared_.total >= kMaxConnections) return;
    std::string key(peer.begin(), peer.end());
    size_t& count = shared_.per_peer[key];
    if (count >= kMaxConnectionsPerPeer) return;
    ++count;
    ++shared_.total;
    socket.set_option(asio::socket_base::send_buffer_size(kSendBufferBytes), ec);
    std::make_shared<Connection>(shared_, std::move(socket), std::move(key), local)
        ->await_request();
  }

  // Destroyed in reverse: the context before the counts its connections give back.
  Shared shared_;
  asio::io_context io_{1};
  tcp::acceptor acceptor_{io_};
  asio::steady_timer retry_{io_};
  std::thread thread_;
};

}  // namespace

HttpResponse text_response(int status, const std::string& line) {
  HttpResponse res;
  res.status = status;
  res.body = std::make_shared<const std::string>(line + "\n");
  return res;
}

Result<std::unique_ptr<HttpServer>> HttpServer::start(HttpListen listen, Handler handler) {
  auto server = std::make_unique<AsioHttpServer>(std::move(listen), std::move(handler));
  if (Result<void> listening = server->listen(); !listening) return listening.error();
  return std::unique_ptr<HttpServer>(std::move(server));
}

}  // namespace demodctl::monitor
