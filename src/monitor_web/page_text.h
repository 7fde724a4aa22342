// The monitor's page (page/index.html, compiled in): plain HTML and script, no build step; it loads
// only /chart.js, /api/state and /events from the same server.
#pragma once

#include <string_view>

namespace demodctl::monitor {

// The page's text.
std::string_view page_html();

}  // namespace demodctl::monitor
