#include "monitor/json_records.h"

#include <array>
#include <cstdio>
#include <ctime>

#include "demod/register_map.h"

namespace demodctl::monitor {
namespace {

using nlohmann::json;

template <typename T>
json optional_value(const std::optional<T>& value) {
  return value ? json(*value) : json(nullptr);
}

// A register's bytes as lowercase hex without separators: {0x37, {0xA0, 0x0F}} -> "a00f".
std::string hex_bytes(const std::vector<uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

std::string register_name(uint8_t reg) {
  std::array<char, 8> name{};
  std::snprintf(name.data(), name.size(), "0x%02x", reg);
  return name.data();
}

// An empty name (the chip gave none) as null.
json name_or_null(const std::string& name) { return name.empty() ? json(nullptr) : json(name); }

// The mode report field by field; what the chip did not give (no lock, VCM, a reserved code) is
// null, so a reader never has to parse the report's text.
json mode_json(const ModeReport& mode) {
  const bool dvbs2_ccm = mode.standard == Standard::dvbs2 && !mode.vcm;
  return json{{"standard", name_or_null(standard_name(mode.standard))},
              {"modulation", name_or_null(modulation_name(mode))},
              {"modcod", dvbs2_ccm ? json(mode.modcod) : json(nullptr)},
              {"code_rate", name_or_null(code_rate_name(mode))},
              {"frame", dvbs2_ccm ? json(mode.short_frame ? "short" : "normal") : json(nullptr)},
              {"pilots", dvbs2_ccm ? json(mode.pilots) : json(nullptr)},
              {"roll_off", optional_value(roll_off(mode))},
              {"vcm", mode.vcm}};
}

json header(const char* type, const std::string& board, WallTime time) {
  return json{
      {"type", type}, {"schema", kJsonSchema}, {"board", board}, {"time", rfc3339_utc(time)}};
}

}  // namespace

std::string rfc3339_utc(WallTime time) {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(time.time_since_epoch()).count();
  const auto seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
  const auto millis = static_cast<int>((ms % 1000 + 1000) % 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::array<char, 80> text{};  // room for any int fields
  std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
  return text.data();
}

std::string lock_letters(uint8_t lock_status) {
  std::string letters;
  for (const LockStage& stage : kLockStages) {
    letters += stage.flag.set_in(lock_status) ? stage.letter : '-';
  }
  return letters;
}

const char* event_kind_name(EventKind kind) {
  switch (kind) {
    case EventKind::lock_gained:
      return "lock_gained";
    case EventKind::lock_lost:
      return "lock_lost";
    case EventKind::disconnected:
      return "disconnected";
    case EventKind::reconnected:
      return "reconnected";
    case EventKind::capture_failed:
      return "capture_failed";
  }
  return "unknown";
}

json to_json(const BoardSample& sample) {
  json j = header("sample", sample.board, sample.time);
  j["index"] = sample.index;
  j["connected"] = sample.connected;
  if (!sample.failure.empty()) j["failure"] = sample.failure;
  j["lock_status"] = sample.lock_status;
  j["lock"] = lock_letters(sample.lock_status);
  j["strength_dbm"] = optional_value(sample.strength_dbm);
  j["cn_db"] = optional_value(sample.cn_db);
  j["ber"] = optional_value(sample.ber);
  j["lock_time_ms"] = optional_value(sample.lock_time_ms);
  j["carrier_offset_khz"] = optional_value(sample.carrier_offset_khz);
  j["symbol_offset_khz"] = optional_value(sample.symbol_offset_khz);
  j["mode"] = sample.mode;
  j["mode_fields"] = mode_json(sample.mode_fields);
  json registers = json::object();
  for (const auto& [reg, bytes] : sample.registers)
    registers[register_name(reg)] = hex_bytes(bytes);
  j["registers"] = registers;
  return j;
}

json to_json(const BoardEvent& event) {
  json j = header("event", event.board, event.time);
  j["event"] = event_kind_name(event.kind);
  j["detail"] = event.detail;
  return j;
}

json to_json(const CaptureRecord& capture, bool with_pairs) {
  json j = header("capture", capture.board, capture.time);
  j["mode"] = capture.mode;
  j["mer_db"] = optional_value(capture.mer_db);
  j["sigmf"] = capture.sigmf_base;
  if (with_pairs) {
    json pairs = json::array();
    for (const auto& [i, q] : capture.pairs) pairs.push_back(json::array({i, q}));
    j["pairs"] = pairs;
  }
  return j;
}

json to_json(const std::string& board, const BoardCounters& counters) {
  return json{{"type", "summary"},
              {"schema", kJsonSchema},
              {"board", board},
              {"samples", counters.samples},
              {"failures", counters.failures},
              {"lock_losses", counters.lock_losses},
              {"longest_outage_ms", counters.longest_outage.count()}};
}

}  // namespace demodctl::monitor
