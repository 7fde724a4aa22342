// JSON Lines trace of bus operations, one format for regserver's bus, the tool's register-server
// client (one line per request) and the tool's USB bridge (one line per I2C message). One line per
// operation, written with one write(2) as it happens, so a killed process leaves a complete trace
// of what it did. A file holds whole lines only: a line the disk or the file size limit cuts
// short is taken back, and it and every later line are dropped, counted, and the count told on
// standard error when the trace is closed. The fields are described in docs/simulator.md ("The bus
// trace").
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "i2c/i2c_bus.h"

namespace demodctl {

// "0xD0", "0x1D0", "-0x05": how traces and failure reasons show addresses and registers.
std::string hex_text(long value);

// Who performs the operations a trace shows (its "transport" field).
enum class TraceSource {
  regserver,  // "regserver": the server's own I2C transactions
  socket,     // "socket": the tool's requests to a register server
  usb,        // "usb": the tool's I2C messages through the USB bridge
};

// One bus operation as a trace line shows it.
struct TraceOp {
  std::string_view op;               // "read", "write" or "read_period"
  int channel = 0;                   // the register-server channel (0 on the USB bridge)
  long address = 0;                  // the device address as sent (the 8-bit byte on I2C)
  std::optional<long> reg;           // none when only the address went out
  std::span<const uint8_t> written;  // the data written after the register
  std::span<const uint8_t> read;     // the bytes read; empty when the operation was not done
  size_t read_len = 0;               // how many bytes the operation reads
  bool ok = false;
  // "OK"; on I2C "NACK" or "FAILED"; from a register server its status name ("READ_ONLY"...)
  // or the client's own "TIMEOUT", "CLOSED", "MALFORMED", "NOT_CONNECTED", "NOT_SENT".
  std::string_view status;
};

class TraceLog {
 public:
  // "-" is standard error. Any other path is opened without following a symbolic link and
  // without blocking: a regular file (created with mode 0600, or truncated) or a character
  // device such as /dev/null; a FIFO, socket, directory or link is refused. FaultKind::file, the
  // cause naming the path and why (one line), when the trace cannot be opened.
  static Result<std::unique_ptr<TraceLog>> create(const std::string& path,
                                                  TraceSource source = TraceSource::regserver);
  ~TraceLog();
  TraceLog(const TraceLog&) = delete;
  TraceLog& operator=(const TraceLog&) = delete;

  void operation(const TraceOp& op);
  // A speed setting of a channel; status as in TraceOp (by default what `ok` says).
  void speed(int channel, int speed, bool ok, std::string_view status = {});

 private:
  TraceLog(int fd, std::string path, TraceSource source);
  // The fields every line ends with: status, transport, t_us.
  void append_tail(std::string& line, std::string_view status) const;
  // On the first failed write, one line on standard error; no line is written after it.
  void write_line(std::string line);
  // Removes the `written` bytes of a line that could not be written whole (regular files).
  void take_back(size_t written);
  int fd_;
  std::string path_;
  TraceSource source_;
  bool failed_ = false;
  uint64_t dropped_ = 0;  // lines not in the trace, from the first failed one on
  uint64_t seq_ = 0;
};

// Decorator: traces every transaction of the wrapped bus as channel `channel`.
class TracingBus : public I2cBus {
 public:
  TracingBus(I2cBus& inner, TraceLog& log, int channel)
      : inner_(inner), log_(log), channel_(channel) {}
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;

 private:
  I2cBus& inner_;
  TraceLog& log_;
  int channel_;
};

}  // namespace demodctl
