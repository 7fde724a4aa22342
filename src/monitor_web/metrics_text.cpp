#include "monitor_web/metrics_text.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
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
  int decimal_shift;  // powers of ten from the sample's unit to the metric's base unit
};

constexpr int kKiloShift = 3;    // kHz -> Hz
constexpr int kMilliShift = -3;  // ms -> s

constexpr GaugeFamily kGauges[] = {
    {"demodmon_strength_dbm", "Signal strength at the tuner input, in dBm.",
     [](const BoardSample& s) { return s.strength_dbm; }, 0},
    {"demodmon_cn_db", "Carrier to noise ratio, in dB.",
     [](const BoardSample& s) { return s.cn_db; }, 0},
    {"demodmon_ber", "Bit error rate before the outer decoder.",
     [](const BoardSample& s) { return s.ber; }, 0},
    {"demodmon_carrier_offset_hertz", "Carrier frequency offset, in hertz.",
     [](const BoardSample& s) { return s.carrier_offset_khz; }, kKiloShift},
    {"demodmon_symbol_rate_offset_hertz", "Symbol rate offset, in symbols per second.",
     [](const BoardSample& s) { return s.symbol_offset_khz; }, kKiloShift},
    {"demodmon_lock_time_seconds", "Time the demodulator took to acquire its lock, in seconds.",
     [](const BoardSample& s) {
       return s.lock_time_ms ? std::optional<double>(*s.lock_time_ms) : std::nullopt;
     },
     kMilliShift},
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
    {"demodmon_capture_failures_total", "Captures asked for that gave no record.",
     &BoardCounters::capture_failures},
};

constexpr size_t kShortestDoubleChars = 32;  // 24 at most, with room to spare

// Go's float syntax, which the format takes: the shortest text that reads back as the same
// double, and NaN, +Inf, -Inf.
std::string number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[kShortestDoubleChars];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return std::string(text, ec == std::errc() ? end : text);
}

// The value of the decimal that `value` prints as, times 10^shift: the figure in another unit with
// no binary rounding noise (0.1234 kHz is 123.4 Hz, where 0.1234 * 1000 is 123.39999999999999).
double shifted(double value, int shift) {
  if (shift == 0 || !std::isfinite(value)) return value;
  char text[kShortestDoubleChars];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific);
  if (ec != std::errc()) return value;
  const std::string_view digits(text, static_cast<size_t>(end - text));
  const size_t e = digits.find('e');
  int exponent = 0;
  std::from_chars(digits.data() + e + 1 + (digits[e + 1] == '+' ? 1 : 0), digits.end(), exponent);
  const std::string moved =
      std::string(digits.substr(0, e)) + "e" + std::to_string(exponent + shift);
  double result = value;
  std::from_chars(moved.data(), moved.data() + moved.size(), result);
  return result;
}

// Seconds since the epoch, to the millisecond the sample's time carries.
std::string seconds_text(WallTime time) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
  return number(shifted(static_cast<double>(ms.count()), kMilliShift));
}

void header(std::string& out, std::string_view name, std::string_view help, std::string_view type) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void line(std::string& out, std::string_view name, const std::string& labels,
          const std::string& value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out.append(" ").append(value).append("\n");
}

std::string label(std::string_view name, std::string_view value) {
  return std::string(name) + "=\"" + escape_label(value) + "\"";
}

std::string board_label(const std::string& board) { return label("board", board); }

// The mode's fields as labels, each empty where the chip gives none (an empty label is an absent
// one to Prometheus).
std::string mode_labels(const ModeReport& mode) {
  const bool dvbs2_ccm = mode.standard == Standard::dvbs2 && !mode.vcm;
  const std::optional<double> roll = roll_off(mode);
  return label("standard", standard_name(mode.standard)) + "," +
         label("modulation", modulation_name(mode)) + "," +
         label("modcod", dvbs2_ccm ? std::to_string(mode.modcod) : "") + "," +
         label("code_rate", code_rate_name(mode)) + "," +
         label("frame", dvbs2_ccm ? (mode.short_frame ? "short" : "normal") : "") + "," +
         label("pilots", dvbs2_ccm ? (mode.pilots ? "on" : "off") : "") + "," +
         label("roll_off", roll ? number(*roll) : "") + "," + label("vcm", mode.vcm ? "1" : "0");
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
    std::optional<double> mer_db;
    BoardCounters counters;
  };
  std::vector<Board> boards;
  for (const std::string& name : feed.boards()) {
    std::vector<BoardSample> history = feed.history(name, 1);
    std::optional<BoardSample> last;
    if (!history.empty()) last = std::move(history.back());
    const std::optional<CaptureRecord> capture = feed.latest_capture(name);
    boards.push_back({board_label(name), std::move(last), capture ? capture->mer_db : std::nullopt,
                      feed.counters(name)});
  }
  const auto connected = [](const Board& b) { return b.last && b.last->connected; };

  std::string out;
  header(out, "demodmon_build_info", "The demodmon version that serves these metrics.", "gauge");
  line(out, "demodmon_build_info", label("version", build_version()), "1");
  header(out, "demodmon_output_lines_dropped_total",
         "Lines of standard output dropped because it could not keep up.", "counter");
  line(out, "demodmon_output_lines_dropped_total", "", std::to_string(feed.output_lines_dropped()));
  header(out, "demodmon_connected", "Whether the board's last sample was read (1) or not (0).",
         "gauge");
  for (const Board& b : boards) line(out, "demodmon_connected", b.label, connected(b) ? "1" : "0");
  header(out, "demodmon_last_sample_timestamp_seconds",
         "When the board's last sample was taken, read or not, in seconds since the epoch.",
         "gauge");
  for (const Board& b : boards) {
    if (b.last)
      line(out, "demodmon_last_sample_timestamp_seconds", b.label, seconds_text(b.last->time));
  }
  header(out, "demodmon_lock", "Lock flag of each stage in the board's last sample (1 locked).",
         "gauge");
  for (const Board& b : boards) {
    if (!connected(b)) continue;
    // One line per stage of the register map, in chain order, as the `stage` label names it.
    for (const LockStage& stage : kLockStages) {
      const bool locked = stage.flag.set_in(b.last->lock_status);
      line(out, "demodmon_lock", b.label + "," + label("stage", stage.name), locked ? "1" : "0");
    }
  }
  header(out, "demodmon_mode_info",
         "The mode the board receives, as labels; absent without FEC lock.", "gauge");
  for (const Board& b : boards) {
    if (!connected(b) || b.last->mode_fields.standard == Standard::unknown) continue;
    line(out, "demodmon_mode_info", b.label + "," + mode_labels(b.last->mode_fields), "1");
  }
  for (const GaugeFamily& family : kGauges) {
    header(out, family.name, family.help, "gauge");
    for (const Board& b : boards) {
      if (!connected(b)) continue;
      if (const std::optional<double> value = family.figure(*b.last)) {
        line(out, family.name, b.label, number(shifted(*value, family.decimal_shift)));
      }
    }
  }
  header(out, "demodmon_mer_db", "Modulation error ratio of the board's last capture, in dB.",
         "gauge");
  for (const Board& b : boards) {
    if (b.mer_db) line(out, "demodmon_mer_db", b.label, number(*b.mer_db));
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
