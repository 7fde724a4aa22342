// One board as the Python module drives it: one connection kept open from open() to close(), and
// each figure read with the core's own functions on it. Every method does bus work only and
// returns plain values; a failure is thrown as BoardFailure with the core's fault.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "capture/samples.h"
#include "demod/mode_report.h"
#include "monitor/board_link.h"
#include "recording_board_bus.h"

namespace demodctl::python {

// What failed: the fault the core gave (kind and cause), or chip_absent (the identity check read
// no chip; no fault kind says so, as demodctl answers it with a result line of its own).
struct BoardFailure : std::runtime_error {
  BoardFailure(std::optional<Fault> f, const std::string& text)
      : std::runtime_error(text), fault(std::move(f)) {}
  std::optional<Fault> fault;  // empty: the chip is absent
};

struct LockFlags {
  uint8_t status = 0;            // the lock status register as read
  std::array<bool, 6> stages{};  // in kLockStages order: AGC, CBS, TR, SYNC, CR, FEC
};

struct CaptureResult {
  SamplePairs pairs{};
  std::optional<double> mer_db;  // empty without FEC lock
};

class Board {
 public:
  explicit Board(std::string uri);
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  const std::string& uri() const { return uri_; }
  void open();
  void close();
  bool is_open() const { return open_; }

  Identity identity();
  LockFlags lock();
  double strength_dbm();
  std::optional<double> cn_db();
  std::optional<double> ber();
  std::optional<int32_t> lock_time_ms();
  std::optional<double> carrier_offset_hz();
  std::optional<double> symbol_rate_offset_hz();
  ModeReport mode();
  void init();
  void hot_reset();
  // tuner_type as tuner_set takes it: 0 the type 0 driver, 1 the RDA5815.
  void tune(int32_t freq_mhz, int32_t bw_mhz, int32_t tuner_type, int32_t tuner_address,
            int32_t tuner_channel);
  // nine_bit: false selects the 8-bit format.
  CaptureResult capture(bool nine_bit);
  uint8_t read_register(uint8_t reg);
  void write_register(uint8_t reg, uint8_t value);
  // A field of the register map by name: read (multi-register fields low byte first) or updated
  // in place (single-register fields only).
  uint32_t read_field(const std::string& name);
  void write_field(const std::string& name, uint8_t value);

  // demodmon's own sample (monitor::read_sample), `count` times on this connection: the baseline
  // the benchmark holds the Python sample against. False when a sample failed.
  bool monitor_samples(int count);

  // The last bus operations, oldest first.
  std::vector<std::string> trace() const;

 private:
  BoardBus& bus();  // throws when the board is not open
  // The identity check the commands that change the chip make first.
  void require_chip();
  std::string uri_;
  std::unique_ptr<monitor::BoardLink> link_;
  std::unique_ptr<RecordingBoardBus> recording_;
  bool open_ = false;
  std::mutex busy_;  // one bus operation at a time when threads share a board
};

}  // namespace demodctl::python
