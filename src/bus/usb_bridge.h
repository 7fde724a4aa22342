// The USB bridge on top of an I2C bus: a Linux i2c-dev adapter or the in-process simulated board,
// whichever the program hands it (see adapters/bus_choice.h), optionally traced to the run's trace
// file, one line per I2C message (TracingBus). With the run's verbose setting a message the bus did
// not carry is named on standard error (bus/verbose.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "bus/i2c_bridge.h"
#include "bus/run_settings.h"
#include "i2c/i2c_bus.h"
#include "i2c/trace_log.h"

namespace demodctl {

// Opens the bus the bridge runs on; its fault (one line) when it cannot be had.
using BusOpener = std::function<Result<std::unique_ptr<I2cBus>>()>;

class UsbBridge : public I2cBridge, private I2cBus {
 public:
  // The run's trace and verbosity come from `settings` (bus/run_settings.h).
  explicit UsbBridge(BusOpener opener, RunSettings settings = {});
  ~UsbBridge() override;
  UsbBridge(const UsbBridge&) = delete;
  UsbBridge& operator=(const UsbBridge&) = delete;

  // The reason goes to standard error when verbose. i2c-dev cannot change the bus clock from user
  // space, so `speed` is only kept and traced.
  Result<void> open(int speed) override;
  // The bus of the bridge: a failed transaction is named when verbose (the address, the register
  // and whether it was a NACK; an identity read that is not acknowledged is named as well, though
  // the caller takes it for an absent chip).
  I2cBus* bus() override { return is_open() ? this : nullptr; }
  void close() override;

  bool is_open() const { return bus_ != nullptr; }
  int stream_mode() const { return stream_mode_; }

 private:
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;
  Fault open_failure(const std::string& reason) const;

  BusOpener opener_;
  // Destroyed in reverse order: the tracing decorator before what it refers to.
  std::unique_ptr<I2cBus> device_;
  RunSettings settings_;
  std::unique_ptr<TraceLog> trace_;
  std::unique_ptr<TracingBus> traced_;
  I2cBus* bus_ = nullptr;  // traced_ or device_, null while closed
  int stream_mode_ = 0;
};

// Says on standard error why the bridge could not be opened, when `verbose`; the
// tool's own output stays the result line alone.
void report_open_failure(bool verbose, const std::string& reason);

}  // namespace demodctl
