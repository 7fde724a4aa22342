// The records as the event stream and /api/state send them: one JSON object each.
#pragma once

#include <nlohmann/json.hpp>

#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

nlohmann::json sample_json(const BoardSample& sample);
nlohmann::json event_json(const BoardEvent& event);
nlohmann::json capture_json(const CaptureRecord& capture);

}  // namespace demodctl::monitor
