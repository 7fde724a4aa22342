// JSON Lines trace of bus operations, shared by regserver and the USB bridge.
// One line per operation, written with one write(2) as it happens, so a killed
// process leaves a complete trace of what it did.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "i2c/i2c_bus.h"

namespace demodctl {

class TraceLog {
 public:
  // "-" is standard error. Any other path is opened without following a symbolic link and
  // without blocking: a regular file (created with mode 0600, or truncated) or a character
  // device such as /dev/null; a FIFO, socket, directory or link is refused. nullptr and *error
  // (one line) when the trace cannot be opened.
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
  TraceLog(int fd, std::string path);
  // On the first failed write, one line on standard error; no line is written after it.
  void write_line(std::string line);
  int fd_;
  std::string path_;
  bool failed_ = false;
  uint64_t seq_ = 0;
};

// Decorator: traces every transaction of the wrapped bus as channel `channel`.
class TracingBus : public I2cBus {
 public:
  TracingBus(I2cBus& inner, TraceLog& log, int channel)
      : inner_(inner), log_(log), channel_(channel) {}
  I2cResult transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;

 private:
  I2cBus& inner_;
  TraceLog& log_;
  int channel_;
};

}  // namespace demodctl
