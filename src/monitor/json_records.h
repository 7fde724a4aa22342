// The monitor's records as JSON: one object per sample, event or capture, each with its "type",
// the schema version, the board and an RFC 3339 UTC time. The --json lines and the web page's
// event stream both use these, so a reader of either sees the same fields (docs/demodmon.md).
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "monitor/monitor_feed.h"

namespace demodctl::monitor {

// Raised when fields are added or change meaning: 2 added the sample's "mode_fields".
inline constexpr int kJsonSchema = 2;

// "2026-12-07T04:53:35.123Z": UTC, milliseconds.
std::string rfc3339_utc(WallTime time);

// The six lock stages in chain order, a letter each ("ACTSRF"), '-' for a stage that is down.
std::string lock_letters(uint8_t lock_status);

// "lock_gained", "lock_lost", "disconnected", "reconnected", "capture_failed".
const char* event_kind_name(EventKind kind);

nlohmann::json to_json(const BoardSample& sample);
nlohmann::json to_json(const BoardEvent& event);
// with_pairs: the 2048 I/Q pairs as [[i, q], ...] (the page draws them; the --json line leaves
// them to the SigMF recording).
nlohmann::json to_json(const CaptureRecord& capture, bool with_pairs = true);
nlohmann::json to_json(const std::string& board, const BoardCounters& counters);

}  // namespace demodctl::monitor
