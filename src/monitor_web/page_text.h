// The monitor's page (page/index.html, compiled in): plain HTML and script, no build step; it loads
// only /chart.js, /api/state and /events from the same server.
#pragma once

#include <string_view>

namespace demodctl::monitor {

extern const std::string_view kPageHtml;

}  // namespace demodctl::monitor
