// What the monitor's samplers publish and its outputs read: one record per sample of a board, the
// lock events it derives, and the captures it takes. The terminal and JSON lines, the web page,
// its event stream and /metrics are all fed from these records, so every output shows the same
// samples.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "demod/mode_report.h"

namespace demodctl::monitor {

using WallTime = std::chrono::system_clock::time_point;

// One sample of one board: every figure is read on the board's open connection and computed by
// the measurement that read it; a figure the chip could not give (no lock, no estimate yet) is
// empty. Readers take the figures and fields; `registers` is only what the JSON line shows.
struct BoardSample {
  std::string board;  // the name given with --board (or "board" for a positional target)
  WallTime time{};
  uint64_t index = 0;  // samples of this board so far, from 1
  bool connected = false;
  std::string failure;      // why the sample could not be taken (connected == false), else empty
  uint8_t lock_status = 0;  // 0x2C: bit 0 AGC, 1 CBS, 2 TR, 3 sync, 4 CR, 5 FEC
  std::optional<double> strength_dbm;
  std::optional<double> cn_db;
  std::optional<double> ber;
  std::optional<int32_t> lock_time_ms;
  std::optional<double> carrier_offset_khz;
  std::optional<double> symbol_offset_khz;
  std::string mode;        // the mode report as dvb_standard prints it
  ModeReport mode_fields;  // the same, as fields (standard unknown without lock or connection)
  // The register bytes the JSON line shows, by register: {0x2C, {..}}, {0x37, {lo, hi}}, ...
  // Nothing decodes them again: every figure above is already here.
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> registers;
};

enum class EventKind { lock_gained, lock_lost, disconnected, reconnected, capture_failed };

struct BoardEvent {
  std::string board;
  WallTime time{};
  EventKind kind = EventKind::lock_lost;
  std::string detail;  // lock_lost: the stage that dropped first ("FEC", "CR", ... "AGC");
                       // disconnected, capture_failed: why
};

struct CaptureRecord {
  std::string board;
  WallTime time{};
  std::vector<std::pair<int, int>> pairs;  // the 2048 sample pairs, I and Q
  std::optional<double> mer_db;            // empty without lock or a known constellation
  std::string mode;
  std::string sigmf_base;  // the SigMF recording's path without extension, empty if not written
};

// Counters per board since the monitor started.
struct BoardCounters {
  uint64_t samples = 0;
  uint64_t failures = 0;
  uint64_t lock_losses = 0;
  uint64_t capture_failures = 0;  // captures asked for that gave no record
  std::chrono::milliseconds longest_outage{0};
};

// The store the samplers write into and every output reads from. Thread-safe: each board's sampler
// publishes from its own thread.
class MonitorFeed {
 public:
  virtual ~MonitorFeed() = default;

  struct Listener {
    std::function<void(const BoardSample&)> sample;
    std::function<void(const BoardEvent&)> event;
    std::function<void(const CaptureRecord&)> capture;
  };
  // Called from the publishing thread; a listener must not block. Returns an id for unsubscribe.
  virtual int subscribe(Listener listener) = 0;
  virtual void unsubscribe(int id) = 0;

  // The boards in the order they were given.
  virtual std::vector<std::string> boards() const = 0;
  // The last `max` samples of a board (oldest first), its events, its latest capture, its counters.
  virtual std::vector<BoardSample> history(const std::string& board, size_t max) const = 0;
  virtual std::vector<BoardEvent> events(const std::string& board) const = 0;
  virtual std::optional<CaptureRecord> latest_capture(const std::string& board) const = 0;
  virtual BoardCounters counters(const std::string& board) const = 0;
  // Lines of standard output (terminal or --json) dropped because it could not keep up.
  virtual uint64_t output_lines_dropped() const = 0;

  // Asks the board's sampler for a capture at its next turn; false for an unknown board. The
  // capture arrives through the listeners.
  virtual bool request_capture(const std::string& board) = 0;
};

}  // namespace demodctl::monitor
