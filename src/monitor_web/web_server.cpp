// The monitor's HTTP side on cpp-httplib: the library's own threads serve the clients, the feed's
// publishing threads only append to bounded per-client queues, so no client (slow, silent or
// malformed) ever reaches back into the sampling.
#include "monitor_web/web_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "files/safe_open.h"
#include "monitor/json_records.h"
#include "monitor_web/event_queue.h"
#include "monitor_web/metrics_text.h"
#include "monitor_web/page_text.h"
#include "net/allow_list.h"

namespace demodctl::monitor {
namespace {

using namespace std::chrono_literals;

// A request is read within these bounds or dropped; a response that cannot be written within the
// write bound ends its connection (an event-stream client that stopped reading, for one).
constexpr time_t kReadTimeoutSec = 5;
constexpr time_t kWriteTimeoutSec = 5;
constexpr time_t kKeepAliveSec = 5;
// No route takes a body: anything longer is refused with 413 before it is read.
constexpr size_t kMaxBodyBytes = 1024;
// Threads serving connections, and how many of them event streams may hold: the rest stay free
// for the page, /api/state and scrapes.
constexpr size_t kServerThreads = 16;
constexpr size_t kMaxStreams = 8;
// Messages a stream client may have waiting before the next ones are dropped (and it resyncs):
// a few seconds of a rack sampled every second.
constexpr size_t kStreamQueueCapacity = 256;
// A silent stream sends a comment this often, so a client that went away is noticed.
constexpr auto kStreamKeepAlive = 15s;
// What the kernel holds for one client (accepted sockets inherit the listener's size): a client
// that stopped reading is then held back by its bounded queue, not by megabytes of socket buffer.
constexpr int kSendBufferBytes = 256 << 10;
// How long start() waits for the listening thread to run.
constexpr auto kStartBound = 2s;
constexpr auto kStartPoll = 1ms;
// Samples of each board /api/state returns, the page's charts' span.
constexpr size_t kStateHistory = 300;
// Chart.js is ~200 KB minified; anything far larger is not it.
constexpr size_t kMaxChartJsBytes = 4 << 20;

constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kAccepted = 202;
constexpr int kUnavailable = 503;

// The page loads its script and data from this server only, and the browser enforces it.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self' 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:";

// The address's bytes in network order (4 or 16), empty when the text is no numeric address.
std::vector<uint8_t> address_bytes(const std::string& text) {
  std::array<uint8_t, 16> bytes{};
  if (inet_pton(AF_INET, text.c_str(), bytes.data()) == 1)
    return {bytes.begin(), bytes.begin() + 4};
  if (inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1) return {bytes.begin(), bytes.end()};
  return {};
}

bool is_loopback(const std::vector<uint8_t>& address) {
  constexpr uint8_t kV4Loopback = 127;  // 127.0.0.0/8
  if (address.size() == 4) return address[0] == kV4Loopback;
  constexpr std::array<uint8_t, 16> kV6Loopback = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  return std::equal(address.begin(), address.end(), kV6Loopback.begin(), kV6Loopback.end());
}

std::string dump(const nlohmann::json& value) {
  // Text from the chip or the system that is not UTF-8 is replaced, never thrown about.
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string stream_message(std::string_view name, const nlohmann::json& data) {
  return "event: " + std::string(name) + "\ndata: " + dump(data) + "\n\n";
}

void text_reply(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

class HttpWebServer final : public WebServer {
 public:
  HttpWebServer(const WebOptions& options, MonitorFeed& feed, AllowList allow)
      : options_(options), feed_(feed), allow_(std::move(allow)) {}
  ~HttpWebServer() override { stop(); }

  bool start(const std::string& host, std::string* error) {
    load_chart_js();
    configure();
    routes();
    const int port = options_.port == 0
                         ? http_.bind_to_any_port(host)
                         : (http_.bind_to_port(host, options_.port) ? options_.port : -1);
    if (port <= 0) {
      *error = "cannot listen on " + options_.listen + ":" + std::to_string(options_.port) + ": " +
               std::strerror(errno);
      return false;
    }
    port_ = static_cast<uint16_t>(port);
    subscription_ = feed_.subscribe(listener());
    thread_ = std::thread([this] { http_.listen_after_bind(); });
    // stop() only reaches a server that runs: wait for it, so an early stop cannot be lost.
    const auto deadline = std::chrono::steady_clock::now() + kStartBound;
    while (!http_.is_running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kStartPoll);
    }
    if (!http_.is_running()) {
      *error = "the web server did not start on " + options_.listen;
      stop();
      return false;
    }
    return true;
  }

  uint16_t port() const override { return port_; }

  void stop() override {
    if (stopped_.exchange(true)) return;
    if (subscription_ >= 0) feed_.unsubscribe(subscription_);
    streams_->close_all();
    if (thread_.joinable()) {
      http_.stop();
      thread_.join();
    }
  }

 private:
  void load_chart_js() {
    std::string reason;
    if (!read_small_file(options_.chart_js, kMaxChartJsBytes, &chart_js_, &reason)) {
      // The page tests for Chart and explains; a script that loads cleanly keeps the console
      // free of errors.
      chart_js_ = "/* Chart.js is not installed: " + options_.chart_js + ": " + reason + " */\n";
    }
  }

  void configure() {
    http_.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    http_.set_read_timeout(kReadTimeoutSec);
    http_.set_write_timeout(kWriteTimeoutSec);
    http_.set_keep_alive_timeout(kKeepAliveSec);
    http_.set_payload_max_length(kMaxBodyBytes);
    http_.set_socket_options([](int sock) {
      httplib::default_socket_options(sock);
      setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    });
    http_.set_default_headers(
        {{"X-Content-Type-Options", "nosniff"}, {"Cache-Control", "no-store"}});
    http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      const std::vector<uint8_t> peer = address_bytes(req.remote_addr);
      if (!peer.empty() && allow_.admits(peer)) return httplib::Server::HandlerResponse::Unhandled;
      text_reply(res, kForbidden, "address " + req.remote_addr + " not allowed");
      return httplib::Server::HandlerResponse::Handled;
    });
    http_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
      if (res.body.empty()) text_reply(res, res.status, "HTTP " + std::to_string(res.status));
    });
  }

  void routes() {
    http_.Get("/", [](const httplib::Request&, httplib::Response& res) {
      res.set_header("Content-Security-Policy", kPagePolicy);
      res.set_content(page_html().data(), page_html().size(), "text/html; charset=utf-8");
    });
    http_.Get("/chart.js", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(chart_js_, "text/javascript; charset=utf-8");
    });
    http_.Get("/metrics", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(metrics_text(feed_), std::string(kMetricsContentType));
    });
    http_.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content(dump(state()), "application/json");
    });
    http_.Post("/api/capture",
               [this](const httplib::Request& req, httplib::Response& res) { capture(req, res); });
    http_.Get("/events", [this](const httplib::Request&, httplib::Response& res) { stream(res); });
  }

  nlohmann::json state() const {
    nlohmann::json boards = nlohmann::json::array();
    for (const std::string& name : feed_.boards()) {
      nlohmann::json history = nlohmann::json::array();
      for (const BoardSample& s : feed_.history(name, kStateHistory)) history.push_back(to_json(s));
      nlohmann::json events = nlohmann::json::array();
      for (const BoardEvent& e : feed_.events(name)) events.push_back(to_json(e));
      const std::optional<CaptureRecord> capture = feed_.latest_capture(name);
      boards.push_back({{"name", name},
                        {"counters", to_json(name, feed_.counters(name))},
                        {"history", std::move(history)},
                        {"events", std::move(events)},
                        {"capture", capture ? to_json(*capture) : nlohmann::json(nullptr)}});
    }
    return {{"captures_allowed", options_.captures_allowed}, {"boards", std::move(boards)}};
  }

  void capture(const httplib::Request& req, httplib::Response& res) {
    if (!options_.captures_allowed) {
      text_reply(res, kForbidden, "captures from the page are not allowed");
      return;
    }
    // A page of another site may not make this browser ask for captures.
    const std::string origin = req.get_header_value("Origin");
    if (!origin.empty() && origin != "http://" + req.get_header_value("Host")) {
      text_reply(res, kForbidden, "captures are asked for from the monitor's own page only");
      return;
    }
    const std::string board = req.get_param_value("board");
    if (!feed_.request_capture(board)) {
      text_reply(res, kNotFound, "no board named '" + board + "'");
      return;
    }
    text_reply(res, kAccepted, "capture of " + board + " requested");
  }

  void stream(httplib::Response& res) {
    const std::shared_ptr<EventQueue> queue = streams_->open();
    if (!queue) {
      text_reply(res, kUnavailable, "too many event streams");
      return;
    }
    // The client reconnects a second after a drop instead of the browsers' default three.
    auto first = std::make_shared<bool>(true);
    res.set_chunked_content_provider(
        "text/event-stream",
        [queue, first](size_t, httplib::DataSink& sink) {
          if (*first) {
            *first = false;
            static constexpr std::string_view kRetry = "retry: 1000\n\n";
            return sink.write(kRetry.data(), kRetry.size());
          }
          const std::vector<std::string> messages = queue->take(kStreamKeepAlive);
          if (queue->closed()) return false;
          if (messages.empty()) {
            static constexpr std::string_view kComment = ":\n\n";
            return sink.write(kComment.data(), kComment.size());
          }
          for (const std::string& m : messages) {
            if (!sink.write(m.data(), m.size())) return false;
          }
          return true;
        },
        [streams = streams_, queue](bool) { streams->forget(queue); });
  }

  // Each record is turned into its message once, and only while a stream is open.
  MonitorFeed::Listener listener() {
    auto publish = [streams = streams_](std::string_view name, const auto& record) {
      if (!streams->empty()) streams->publish(stream_message(name, to_json(record)));
    };
    return {
        [publish](const BoardSample& s) { publish("sample", s); },
        [publish](const BoardEvent& e) { publish("event", e); },
        [publish](const CaptureRecord& c) { publish("capture", c); },
    };
  }

  const WebOptions options_;
  MonitorFeed& feed_;
  const AllowList allow_;
  std::string chart_js_;
  httplib::Server http_;
  std::thread thread_;
  uint16_t port_ = 0;
  int subscription_ = -1;
  std::atomic<bool> stopped_{false};
  const std::shared_ptr<EventStreams> streams_ =
      std::make_shared<EventStreams>(kMaxStreams, kStreamQueueCapacity);
};

}  // namespace

std::unique_ptr<WebServer> WebServer::start(const WebOptions& options, MonitorFeed& feed,
                                            std::string* error) {
  // Host names are not resolved (no wait on a name server); "localhost" is the loopback.
  const std::string host = options.listen == "localhost" ? "127.0.0.1" : options.listen;
  const std::vector<uint8_t> address = address_bytes(host);
  if (address.empty()) {
    *error = "--http needs a numeric address or localhost, not '" + options.listen + "'";
    return nullptr;
  }
  AllowList allow;
  for (const std::string& net : options.allow) {
    if (!allow.add(net, error, "--http-allow")) return nullptr;
  }
  if (!is_loopback(address) && allow.empty()) {
    *error =
        "--http " + options.listen + " listens beyond loopback: name the peers with --http-allow";
    return nullptr;
  }
  auto server = std::make_unique<HttpWebServer>(options, feed, std::move(allow));
  if (!server->start(host, error)) return nullptr;
  return server;
}

}  // namespace demodctl::monitor
