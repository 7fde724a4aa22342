// A small HTTP/1.1 server on one Asio thread, made to hold on a lab network:
//  - a peer outside the allow list, past its share of connections or past the total is closed at
//    once, before anything is read;
//  - a request (its head, body and any idle time before it) must arrive within one deadline, in
//    a head of bounded size and field count, or it is answered 408/414/431 and closed;
//  - a Host field that names no address or name of this server is answered 421 on every path;
//  - a reply must be taken within a bound, or the connection is closed;
//  - Range is ignored: every reply is the whole resource;
//  - stopping does not wait for any client: every read and write is asynchronous.
// Event streams are written from EventQueues: the publishing thread only wakes the server.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "monitor_web/event_queue.h"
#include "monitor_web/host_names.h"
#include "monitor_web/http_request.h"
#include "net/allow_list.h"
#include "result/result.h"

namespace demodctl::monitor {

// Connections one peer address may hold at once, and all peers together: a browser opens six to
// a server and keeps an event stream, a few tabs and a scraper stay well within.
inline constexpr size_t kMaxConnectionsPerPeer = 32;
inline constexpr size_t kMaxConnections = 512;
// A request's whole head and body must arrive within this, counted from the connection's start
// or the end of the previous reply.
inline constexpr int kRequestDeadlineSec = 5;

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/plain; charset=utf-8";
  std::shared_ptr<const std::string> body = std::make_shared<const std::string>();
  std::vector<std::pair<std::string, std::string>> fields;  // beyond the common ones
  // An event stream: after the head and `body` the connection carries the queue's messages
  // until either side ends it; `done` runs when it ends.
  std::shared_ptr<EventQueue> stream;
  std::function<void()> done;
};

// A text/plain reply of one line.
HttpResponse text_response(int status, const std::string& line);

struct HttpListen {
  std::string address;  // numeric
  uint16_t port = 0;    // 0: any free port
  AllowList allow;
  HostNames hosts;
};

class HttpServer {
 public:
  using Handler = std::function<HttpResponse(const HttpRequest&)>;
  virtual ~HttpServer() = default;
  // Listening and serving; FaultKind::open_error (one line) when it cannot listen.
  static Result<std::unique_ptr<HttpServer>> start(HttpListen listen, Handler handler);
  virtual uint16_t port() const = 0;
  // Ends serving at once; open connections are dropped when the server is destroyed.
  virtual void stop() = 0;
};

}  // namespace demodctl::monitor
