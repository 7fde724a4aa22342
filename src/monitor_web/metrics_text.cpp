#include "monitor_web/metrics_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "demod/register_map.h"

namespace demodctl::monitor {
namespace {

// A figure of the last sample, empty when the chip gave none.
using Figure = std::optional<double> (*)(const BoardSample&);

struct GaugeFamily {
  std::string_view name;
  std::string_view help;
  Figure figure;
};

constexpr GaugeFamily kGauges[] = {
    {"demodmon_strength_dbm", "Signal strength at the tuner input, in dBm.",
     [](const BoardSample& s) { return s.strength_dbm; }},
    {"demodmon_cn_db", "Carrier to noise ratio, in dB.",
     [](const BoardSample& s) { return s.cn_db; }},
    {"demodmon_ber", "Bit error rate before the outer decoder.",
     [](const BoardSample& s) { return s.ber; }},
    {"demodmon_carrier_offset_khz", "Carrier frequency offset, in kHz.",
     [](const BoardSample& s) { return s.carrier_offset_khz; }},
    {"demodmon_symbol_offset_khz", "Symbol rate offset, in kHz.",
     [](const BoardSample& s) { return s.symbol_offset_khz; }},
};

struct CounterFamily {
  std::string_view name;
  std::string_view help;
  uint64_t BoardCounters::*count;
};

constexpr CounterFamily kCounters[] = {
    {"demodmon_samples_total", "Samples taken of the board.", &BoardCounters::samples},
    {"demodmon_sample_failures_total", "Samples that could not be read from the board.",
     &BoardCounters::failures},
    {"demodmon_lock_losses_total", "Times the board lost its FEC lock.",
     &BoardCounters::lock_losses},
};

// Go's float syntax, which the format takes: the shortest text that reads back as the same
// double, and NaN, +Inf, -Inf.
std::string number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  constexpr size_t kShortestDoubleChars = 32;  // 24 at most, with room to spare
  char text[kShortestDoubleChars];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text);
}

void header(std::string& out, std::string_view name, std::string_view help, std::string_view type) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void line(std::string& out, std::string_view name, const std::string& labels,
          const std::string& value) {
  out.append(name).append("{").append(labels).append("} ").append(value).append("\n");
}

std::string board_label(const std::string& board) {
  return "board=\"" + escape_label(board) + "\"";
}

}  // namespace

std::string escape_label(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string metrics_text(const MonitorFeed& feed) {
  struct Board {
    std::string label;
    std::optional<BoardSample> last;
    BoardCounters counters;
  };
  std::vector<Board> boards;
  for (const std::string& name : feed.boards()) {
    std::vector<BoardSample> history = feed.history(name, 1);
    std::optional<BoardSample> last;
    if (!history.empty()) last = std::move(history.back());
    boards.push_back({board_label(name), std::move(last), feed.counters(name)});
  }

  std::string out;
  header(out, "demodmon_connected", "Whether the board's last sample was read (1) or not (0).",
         "gauge");
  for (const Board& b : boards) {
    line(out, "demodmon_connected", b.label, b.last && b.last->connected ? "1" : "0");
  }
  header(out, "demodmon_lock", "Lock flag of each stage in the board's last sample (1 locked).",
         "gauge");
  for (const Board& b : boards) {
    if (!b.last || !b.last->connected) continue;
    // One line per stage of the register map, in chain order, as the `stage` label names it.
    for (const LockStage& stage : kLockStages) {
      const bool locked = stage.flag.set_in(b.last->lock_status);
      line(out, "demodmon_lock", b.label + ",stage=\"" + std::string(stage.name) + "\"",
           locked ? "1" : "0");
    }
  }
  for (const GaugeFamily& family : kGauges) {
    header(out, family.name, family.help, "gauge");
    for (const Board& b : boards) {
      if (!b.last || !b.last->connected) continue;
      if (const std::optional<double> value = family.figure(*b.last)) {
        line(out, family.name, b.label, number(*value));
      }
    }
  }
  for (const CounterFamily& family : kCounters) {
    header(out, family.name, family.help, "counter");
    for (const Board& b : boards) {
      line(out, family.name, b.label, std::to_string(b.counters.*family.count));
    }
  }
  return out;
}

}  // namespace demodctl::monitor
