// The monitor's HTTP side: its routes, on the project's own small HTTP server (http_server.h),
// whose one thread serves every client; the feed's publishing threads only append to bounded
// per-client queues, so no client (slow, silent or malformed) ever reaches back into the sampling.
#include "monitor_web/web_server.h"

#include <atomic>
#include <chrono>

#include "files/safe_open.h"
#include "monitor/json_records.h"
#include "monitor_web/event_queue.h"
#include "monitor_web/host_names.h"
#include "monitor_web/http_server.h"
#include "monitor_web/metrics_text.h"
#include "monitor_web/page_text.h"
#include "net/allow_list.h"

namespace demodctl::monitor {
namespace {

// Event streams open at once: the rest of the connections stay for the page, /api/state and
// scrapes.
constexpr size_t kMaxStreams = 8;
// Messages a stream client may have waiting before the next ones are dropped (and it resyncs):
// a few seconds of a rack sampled every second.
constexpr size_t kStreamQueueCapacity = 256;
// Samples of each board /api/state returns, the page's charts' span.
constexpr size_t kStateHistory = 300;
// Chart.js is ~200 KB minified; anything far larger is not it.
constexpr size_t kMaxChartJsBytes = 4 << 20;

constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kNotAllowed = 405;
constexpr int kAccepted = 202;
constexpr int kUnavailable = 503;

// The page loads its script and data from this server only, and the browser enforces it.
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self' 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:";

std::string dump(const nlohmann::json& value) {
  // Text from the chip or the system that is not UTF-8 is replaced, never thrown about.
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string stream_message(std::string_view name, const nlohmann::json& data) {
  return "event: " + std::string(name) + "\ndata: " + dump(data) + "\n\n";
}

HttpResponse content(std::string type, std::shared_ptr<const std::string> body) {
  HttpResponse res;
  res.content_type = std::move(type);
  res.body = std::move(body);
  return res;
}

HttpResponse content(std::string type, std::string body) {
  return content(std::move(type), std::make_shared<const std::string>(std::move(body)));
}

class HttpWebServer final : public WebServer {
 public:
  HttpWebServer(const WebOptions& options, MonitorFeed& feed)
      : options_(options),
        feed_(feed),
        page_(std::make_shared<const std::string>(page_html())),
        chart_js_(load_chart_js(options.chart_js)) {}
  ~HttpWebServer() override { stop(); }

  Result<void> start(HttpListen listen) {
    Result<std::unique_ptr<HttpServer>> http =
        HttpServer::start(std::move(listen), [this](const HttpRequest& req) { return route(req); });
    if (!http) return http.error();
    http_ = std::move(*http);
    subscription_ = feed_.subscribe(listener());
    return {};
  }

  uint16_t port() const override { return http_->port(); }

  void stop() override {
    if (stopped_.exchange(true)) return;
    if (subscription_ >= 0) feed_.unsubscribe(subscription_);
    // Closed streams wake nothing any more, so the server may go.
    streams_->close_all();
    if (http_) http_->stop();
  }

 private:
  static std::shared_ptr<const std::string> load_chart_js(const std::string& path) {
    Result<std::string> text = read_small_file(path, kMaxChartJsBytes);
    if (!text) {
      // The page tests for Chart and explains; a script that loads cleanly keeps the console
      // free of errors.
      text = "/* Chart.js is not installed: " + path + ": " + text.error().cause + " */\n";
    }
    return std::make_shared<const std::string>(std::move(*text));
  }

  // Every resource is sent whole: a Range field is ignored, so no reply is larger than its
  // resource.
  HttpResponse route(const HttpRequest& req) {
    const std::string& path = req.path;
    if (path == "/api/capture") {
      if (req.method == "POST") return capture(req);
      return not_allowed("POST");
    }
    const bool known = path == "/" || path == "/chart.js" || path == "/metrics" ||
                       path == "/api/state" || path == "/events";
    if (!known) return text_response(kNotFound, "no resource " + path);
    if (req.method != "GET" && req.method != "HEAD") return not_allowed("GET, HEAD");
    if (path == "/") {
      HttpResponse res = content("text/html; charset=utf-8", page_);
      res.fields.emplace_back("Content-Security-Policy", kPagePolicy);
      return res;
    }
    if (path == "/chart.js") return content("text/javascript; charset=utf-8", chart_js_);
    if (path == "/metrics") return content(std::string(kMetricsContentType), metrics_text(feed_));
    if (path == "/api/state") return content("application/json", dump(state()));
    if (req.method == "HEAD") return content("text/event-stream", "");
    return stream();
  }

  static HttpResponse not_allowed(const std::string& methods) {
    HttpResponse res = text_response(kNotAllowed, "use " + methods);
    res.fields.emplace_back("Allow", methods);
    return res;
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

  HttpResponse capture(const HttpRequest& req) {
    if (!options_.captures_allowed) {
      return text_response(kForbidden, "captures from the page are not allowed");
    }
    // A page of another site may not make this browser ask for captures.
    const std::string origin = req.field("origin");
    if (!origin.empty() && origin != "http://" + req.field("host")) {
      return text_response(kForbidden, "captures are asked for from the monitor's own page only");
    }
    const std::string board = req.param("board");
    if (!feed_.request_capture(board)) {
      return text_response(kNotFound, "no board named '" + board + "'");
    }
    return text_response(kAccepted, "capture of " + board + " requested");
  }

  HttpResponse stream() {
    const std::shared_ptr<EventQueue> queue = streams_->open();
    if (!queue) return text_response(kUnavailable, "too many event streams");
    // The client reconnects a second after a drop instead of the browsers' default three.
    HttpResponse res = content("text/event-stream", "retry: 1000\n\n");
    res.stream = queue;
    res.done = [streams = streams_, queue] { streams->forget(queue); };
    return res;
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
  const std::shared_ptr<const std::string> page_;
  const std::shared_ptr<const std::string> chart_js_;
  const std::shared_ptr<EventStreams> streams_ =
      std::make_shared<EventStreams>(kMaxStreams, kStreamQueueCapacity);
  std::unique_ptr<HttpServer> http_;
  int subscription_ = -1;
  std::atomic<bool> stopped_{false};
};

}  // namespace

Result<std::unique_ptr<WebServer>> WebServer::start(const WebOptions& options, MonitorFeed& feed) {
  // Host names are not resolved (no wait on a name server); "localhost" is the loopback.
  const std::string host = options.listen == "localhost" ? "127.0.0.1" : options.listen;
  const std::vector<uint8_t> address = address_bytes(host);
  if (address.empty()) {
    return Fault{FaultKind::usage,
                 "--http needs a numeric address or localhost, not '" + options.listen + "'"};
  }
  HttpListen listen{host, options.port, AllowList(), HostNames(address)};
  for (const std::string& net : options.allow) {
    if (Result<void> added = listen.allow.add(net, "--http-allow"); !added) return added.error();
  }
  for (const std::string& name : options.hosts) {
    if (Result<void> added = listen.hosts.add(name); !added) return added.error();
  }
  if (!is_loopback(address) && listen.allow.empty()) {
    return Fault{
        FaultKind::usage,
        "--http " + options.listen + " listens beyond loopback: name the peers with --http-allow"};
  }
  auto server = std::make_unique<HttpWebServer>(options, feed);
  if (Result<void> serving = server->start(std::move(listen)); !serving) return serving.error();
  return std::unique_ptr<WebServer>(std::move(server));
}

}  // namespace demodctl::monitor
