// /metrics: the feed's latest sample and counters of every board in the Prometheus text
// exposition format 0.0.4, so a lab's Prometheus scrapes a whole rack from one port.
#pragma once

#include <string>
#include <string_view>

#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// The Content-Type a scrape expects for this text.
inline constexpr std::string_view kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// One family after the other, each with its HELP and TYPE lines, one line per board (per board and
// stage for the lock flags), boards in the feed's order; figures in base units (hertz, seconds)
// as the shortest decimal that reads back as the same double. A figure the last sample lacks (no
// lock, no estimate, no sample yet) has no line: an absent series, not a made-up value.
std::string metrics_text(const MonitorFeed& feed);

// The version this program was built as (CMake's project version; defined in the generated
// page_text.cpp, the web side's one configured source), for demodmon_build_info.
std::string_view build_version();

// A label value as the format writes it between double quotes: \ " and newline escaped.
std::string escape_label(std::string_view value);

}  // namespace demodctl::monitor
