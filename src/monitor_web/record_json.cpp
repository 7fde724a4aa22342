#include "monitor_web/record_json.h"

#include <time.h>

#include <chrono>
#include <cstdio>

namespace demodctl::monitor {
namespace {

using nlohmann::json;

// "2024-05-01T12:00:00.250Z": UTC, milliseconds.
std::string utc_text(WallTime time) {
  using std::chrono::milliseconds;
  const auto since_epoch = std::chrono::floor<milliseconds>(time.time_since_epoch());
  const auto seconds = std::chrono::floor<std::chrono::seconds>(since_epoch);
  const time_t whole = static_cast<time_t>(seconds.count());
  tm fields{};
  gmtime_r(&whole, &fields);
  constexpr size_t kUtcTextSize = sizeof "2024-05-01T12:00:00.250Z";
  char date[kUtcTextSize];
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &fields);
  char text[kUtcTextSize + 8];  // the milliseconds' digits and the Z
  std::snprintf(text, sizeof text, "%s.%03dZ", date,
                static_cast<int>((since_epoch - seconds).count()));
  return text;
}

template <typename T>
json optional_json(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

std::string_view kind_name(EventKind kind) {
  switch (kind) {
    case EventKind::lock_gained:
      return "lock_gained";
    case EventKind::lock_lost:
      return "lock_lost";
    case EventKind::disconnected:
      return "disconnected";
    case EventKind::reconnected:
      return "reconnected";
  }
  return "unknown";
}

}  // namespace

json sample_json(const BoardSample& s) {
  return {{"board", s.board},
          {"time", utc_text(s.time)},
          {"index", s.index},
          {"connected", s.connected},
          {"failure", s.failure},
          {"lock_status", s.lock_status},
          {"strength_dbm", optional_json(s.strength_dbm)},
          {"cn_db", optional_json(s.cn_db)},
          {"ber", optional_json(s.ber)},
          {"lock_time_ms", optional_json(s.lock_time_ms)},
          {"carrier_offset_khz", optional_json(s.carrier_offset_khz)},
          {"symbol_offset_khz", optional_json(s.symbol_offset_khz)},
          {"mode", s.mode}};
}

json event_json(const BoardEvent& e) {
  return {{"board", e.board},
          {"time", utc_text(e.time)},
          {"kind", kind_name(e.kind)},
          {"detail", e.detail}};
}

json capture_json(const CaptureRecord& c) {
  json pairs = json::array();
  for (const auto& [i, q] : c.pairs) pairs.push_back({i, q});
  return {{"board", c.board}, {"time", utc_text(c.time)},  {"mer_db", optional_json(c.mer_db)},
          {"mode", c.mode},   {"pairs", std::move(pairs)}, {"sigmf_base", c.sigmf_base}};
}

}  // namespace demodctl::monitor
