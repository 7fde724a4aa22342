// The monitor's web side: the page, its event stream and /metrics, served from the feed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

struct WebOptions {
  std::string listen = "127.0.0.1";  // address or host name
  uint16_t port = 0;                 // 0: any free port
  std::vector<std::string> allow;    // ADDR[/BITS] peers admitted; needed beyond loopback
  bool captures_allowed = false;     // the page may ask for captures
};

class WebServer {
 public:
  virtual ~WebServer() = default;
  // Serves until stop() or destruction; nullptr and *error (one line) when it cannot listen or
  // the options are refused (a non-loopback address without an allow list).
  static std::unique_ptr<WebServer> start(const WebOptions& options, MonitorFeed& feed,
                                          std::string* error);
  virtual uint16_t port() const = 0;
  virtual void stop() = 0;
};

}  // namespace demodctl::monitor
