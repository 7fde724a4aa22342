#include "monitor/terminal_lines.h"

#include <array>
#include <cstdio>

#include "monitor/json_records.h"

namespace demodctl::monitor {
namespace {

template <typename T>
std::string figure(const std::optional<T>& value, const char* format, const char* unit) {
  std::string text(1, '-');
  if (value) {
    std::array<char, 48> digits{};
    std::snprintf(digits.data(), digits.size(), format, static_cast<double>(*value));
    text.assign(digits.data());
  }
  if (*unit != '\0') {
    text += ' ';
    text.append(unit);
  }
  return text;
}

}  // namespace

std::string sample_line(const BoardSample& s) {
  std::string line = rfc3339_utc(s.time) + " " + s.board + " ";
  if (!s.connected) return line + "failed: " + s.failure;
  line += lock_letters(s.lock_status);
  // Each label appended on its own: GCC 12's fortified string copy warns (-Wrestrict) on
  // "text" + a temporary string here, wrongly.
  const auto add = [&line](const char* label, const std::string& value) {
    line += label;
    line += value;
  };
  add(" ", figure(s.strength_dbm, "%.1f", "dBm"));
  add(" C/N ", figure(s.cn_db, "%.1f", "dB"));
  add(" BER ", figure(s.ber, "%.1e", ""));
  add(" CFO ", figure(s.carrier_offset_khz, "%+.1f", "kHz"));
  add(" SRO ", figure(s.symbol_offset_khz, "%+.1f", "kHz"));
  add(" lock ", figure(s.lock_time_ms, "%.0f", "ms"));
  return line + " " + s.mode;
}

std::string event_line(const BoardEvent& e) {
  std::string line = rfc3339_utc(e.time) + " " + e.board + " " + event_kind_name(e.kind);
  return e.detail.empty() ? line : line + " " + e.detail;
}

std::string capture_line(const CaptureRecord& c) {
  std::string line =
      rfc3339_utc(c.time) + " " + c.board + " capture MER " + figure(c.mer_db, "%.1f", "dB");
  return c.sigmf_base.empty() ? line : line + " " + c.sigmf_base + ".sigmf-meta";
}

std::string summary_line(const std::string& board, const BoardCounters& c) {
  std::array<char, 160> text{};
  std::snprintf(text.data(), text.size(),
                "%s: %llu samples, %llu failures, %llu lock losses, longest outage %.3f s",
                board.c_str(), static_cast<unsigned long long>(c.samples),
                static_cast<unsigned long long>(c.failures),
                static_cast<unsigned long long>(c.lock_losses),
                static_cast<double>(c.longest_outage.count()) / 1000.0);
  return text.data();
}

void LinePrinter::sample(const BoardSample& s) {
  out_.put(json_ ? to_json(s).dump() : sample_line(s));
}

void LinePrinter::event(const BoardEvent& e) {
  out_.put(json_ ? to_json(e).dump() : event_line(e));
}

void LinePrinter::capture(const CaptureRecord& c) {
  out_.put(json_ ? to_json(c, false).dump() : capture_line(c));
}

void LinePrinter::summary(const std::string& board, const BoardCounters& counters) {
  out_.put(json_ ? to_json(board, counters).dump() : summary_line(board, counters));
}

}  // namespace demodctl::monitor
