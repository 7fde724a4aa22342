// Where regserver's channels come from: the simulated board or Linux i2c-dev adapters.
// The server performs one transaction at a time; backends need no locking.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "i2c/i2c_bus.h"
#include "i2cdev/i2c_dev_bus.h"

namespace demodctl {

class SimBoard;
class TraceLog;
class TracingBus;

class BusBackend {
 public:
  virtual ~BusBackend() = default;
  // The bus of channel n, or nullptr when there is no such channel.
  virtual I2cBus* channel(int32_t n) = 0;
  // Sets the speed value (kHz) of an existing channel; false when the adapter refused it.
  virtual bool set_speed(int32_t channel, int32_t speed) = 0;
  // True once after a transaction that asked for the client's connection to be dropped.
  virtual bool take_drop_request() { return false; }
  // Called when a connection has been answered and waits for more: a board that has work left
  // from its transactions does it now, outside any client's round trip.
  virtual void settle() {}
};

// The simulated board, answering on the channels it lists.
class SimBackend : public BusBackend {
 public:
  explicit SimBackend(std::unique_ptr<SimBoard> board);
  ~SimBackend() override;
  I2cBus* channel(int32_t n) override;
  bool set_speed(int32_t channel, int32_t speed) override;
  bool take_drop_request() override;
  void settle() override;

 private:
  std::unique_ptr<SimBoard> board_;
  std::map<int32_t, int32_t> speeds_;
};

// Channel N is the adapter node `<dev_prefix>N` (default /dev/i2c-N), opened on first use. The
// adapter's bus speed is fixed by its kernel driver, so a speed value is only stored.
class I2cDevBackend : public BusBackend {
 public:
  explicit I2cDevBackend(std::string dev_prefix = "/dev/i2c-",
                         KernelI2c& kernel = real_kernel_i2c());
  I2cBus* channel(int32_t n) override;
  bool set_speed(int32_t channel, int32_t speed) override;

 private:
  std::string dev_prefix_;
  KernelI2c& kernel_;
  std::map<int32_t, std::unique_ptr<I2cDevBus>> open_;
  std::map<int32_t, int32_t> speeds_;
};

// Decorator: every transaction and speed setting of the wrapped backend goes to one trace.
class TracingBackend : public BusBackend {
 public:
  TracingBackend(BusBackend& inner, TraceLog& log);
  ~TracingBackend() override;
  I2cBus* channel(int32_t n) override;
  bool set_speed(int32_t channel, int32_t speed) override;
  bool take_drop_request() override { return inner_.take_drop_request(); }
  void settle() override { inner_.settle(); }

 private:
  BusBackend& inner_;
  TraceLog& log_;
  std::map<int32_t, std::unique_ptr<TracingBus>> wrapped_;
};

}  // namespace demodctl
