// The monitor's web side: the page, its event stream and /metrics, served from the feed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "monitor/monitor_feed.h"
#include "result/result.h"

namespace demodctl::monitor {

struct WebOptions {
  std::string listen = "127.0.0.1";  // numeric address, or "localhost"
  uint16_t port = 0;                 // 0: any free port
  std::vector<std::string> allow;    // ADDR[/BITS] peers admitted; needed beyond loopback
  std::vector<std::string> hosts;    // --http-host: names the Host field may give beyond the
                                     // address (and, on loopback, localhost)
  bool captures_allowed = false;     // the page may ask for captures
  // Chart.js as Debian's libjs-chart.js installs it, served as /chart.js; without it the page
  // still shows lamps, figures and events, and says why the charts are missing.
  std::string chart_js = "/usr/share/javascript/chart.js/chart.min.js";
};

class WebServer {
 public:
  virtual ~WebServer() = default;
  // Serves until stop() or destruction; a fault (one line) when it cannot listen (open_error) or
  // the options are refused (usage) (a non-loopback address without an allow list, an allow entry
  // that is not a network, a --http-host that is no name, a listen address other than a numeric one
  // or "localhost": names are not resolved, so starting never waits on a name server).
  static Result<std::unique_ptr<WebServer>> start(const WebOptions& options, MonitorFeed& feed);
  virtual uint16_t port() const = 0;
  virtual void stop() = 0;
};

}  // namespace demodctl::monitor
