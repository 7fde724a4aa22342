// The USB bridge calls on top of an I2C bus: a Linux i2c-dev adapter or the in-process simulated
// board, whichever the program hands it (see adapters/bus_choice.h), optionally traced to the
// run's trace file, one line per I2C message. With the run's verbose setting a message the bus did
// not carry is named on standard error (bus/verbose.h). Only device index 0 exists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bus/run_settings.h"
#include "bus/usbio_api.h"
#include "i2c/i2c_bus.h"
#include "i2c/trace_log.h"

namespace demodctl {

// Opens the bus the bridge runs on; nullptr and *error (one line) when it cannot be had.
using BusOpener = std::function<Result<std::unique_ptr<I2cBus>>()>;

// What last_result() holds before any transaction, or after a call refused before the bus.
inline const Fault kNotCalled{FaultKind::bus_failure, "USB bridge: closed, or a bad argument"};

class UsbBridge : public UsbioBackend {
 public:
  // The run's trace and verbosity come from `settings` (bus/run_settings.h).
  explicit UsbBridge(BusOpener opener, RunSettings settings = {});
  ~UsbBridge() override;
  UsbBridge(const UsbBridge&) = delete;
  UsbBridge& operator=(const UsbBridge&) = delete;

  // Index 0 only. -1 when the bus cannot be opened (the reason goes to standard error when
  // verbose), 0 on success. When already open the first bus is kept.
  int open_device(int index) override;
  // Stores the stream mode (the SPEED argument). i2c-dev cannot change the bus clock from user
  // space, so the value is only kept and traced.
  int set_stream(int index, int mode) override;
  // write_buf[0] is the 8-bit address byte (addr7 << 1); the rest is written, then read_len
  // bytes are read with a repeated start. The receive buffer is zeroed first, so a failed
  // transfer reads as zeros (and is named when verbose: the address, the register and
  // whether it was a NACK; an identity read that is not acknowledged is named as well, though the
  // caller takes it for an absent chip). Nonzero when the transfer was done; last_result() then
  // tells a NACK from a failure (a call refused before the bus, on a bad argument or a closed
  // bridge, failed).
  int stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                 uint8_t* read_buf) override;
  int close_device(int index) override;
  Result<void> last_result() const override { return last_result_; }

  bool is_open() const { return bus_ != nullptr; }
  int stream_mode() const { return stream_mode_; }

 private:
  void release();

  BusOpener opener_;
  // Destroyed in reverse order: the tracing decorator before what it refers to.
  std::unique_ptr<I2cBus> device_;
  RunSettings settings_;
  std::unique_ptr<TraceLog> trace_;
  std::unique_ptr<TracingBus> traced_;
  I2cBus* bus_ = nullptr;  // traced_ or device_, null while closed
  int stream_mode_ = 0;
  Result<void> last_result_ = kNotCalled;
};

// Says on standard error why the bridge could not be opened, when `verbose`; the
// tool's own output stays the result line alone.
void report_open_failure(bool verbose, const std::string& reason);

}  // namespace demodctl
