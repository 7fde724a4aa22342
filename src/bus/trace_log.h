// JSON Lines trace of bus operations, shared by regserver and the in-process
// simulated bridge. One line per operation, flushed as it is written, so a
// killed process leaves a complete trace of what it did.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

#include "bus/i2c_bus.h"

namespace demodctl {

class TraceLog {
 public:
  // Opens (truncates) the file; nullptr and *error set when it cannot be created.
  static std::unique_ptr<TraceLog> create(const std::string& path, std::string* error);
  ~TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  // One I2C transaction. `address` is the 8-bit address byte (addr7 << 1).
  // op is "write" when rx is empty, else "read"; reg is tx[0] when present;
  // bytes are the data written after the register byte, or the bytes read.
  void transfer(int channel, uint8_t address, std::span<const uint8_t> tx,
                std::span<const uint8_t> rx, bool ok);
  // A speed setting of a channel.
  void speed(int channel, int speed, bool ok);

 private:
  explicit TraceLog(std::FILE* file);
  void write_line(const std::string& line);
  std::FILE* file_;
  uint64_t seq_ = 0;
};

// Decorator: traces every transaction of the wrapped bus as channel `channel`.
class TracingBus : public I2cBus {
 public:
  TracingBus(I2cBus& inner, TraceLog& log, int channel)
      : inner_(inner), log_(log), channel_(channel) {}
  bool transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;

 private:
  I2cBus& inner_;
  TraceLog& log_;
  int channel_;
};

}  // namespace demodctl
