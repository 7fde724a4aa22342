// The register server as the socket transport uses it: each call returns its Result, whose fault
// carries what became of the request (the server's status, no reply, a lost connection) in words
// and, when the server refused it, its status (Fault::server_status).
//
// RegClient (bus/reg_client.h) carries these calls over regserver's protocol; tests give a
// recording double.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "result/result.h"

namespace demodctl {

// A register of a device on one of the server's channels (the device's 8-bit bus address), and
// how many bytes its address takes on the bus: 1, or 2 for devices with 16-bit register addresses.
struct ServerRegister {
  int channel;
  int address;
  int reg;
  int reg_len = 1;
};

// A write of data to registers at.reg, at.reg+1, ...
struct ServerWrite {
  ServerRegister at;
  std::span<const uint8_t> data;
};

class RegisterServer {
 public:
  virtual ~RegisterServer() = default;
  // Opens the connection used by the following calls.
  virtual Result<void> connect(const std::string& host, int port) = 0;
  // Sets the I2C speed value (kHz) of a channel.
  virtual Result<void> set_speed(int channel, int speed) = 0;
  // Reads out.size() bytes from registers at.reg, at.reg+1, ...
  virtual Result<void> read_regs(const ServerRegister& at, std::span<uint8_t> out) = 0;
  // Writes data to registers at.reg, at.reg+1, ...
  virtual Result<void> write_regs(const ServerRegister& at, std::span<const uint8_t> data) = 0;
  // Reads out.size() bytes as successive reads of `item_len` bytes each from the same register (a
  // FIFO data port). `burst` is how many reads the server makes back to back before it lets
  // other clients' transactions on that channel in.
  virtual Result<void> read_period(const ServerRegister& at, std::span<uint8_t> out, int item_len,
                                   int burst) = 0;
  // Ends the connection.
  virtual void disconnect() = 0;

  // Two writes as one pipelined pair: both requests go out back to back, then both replies are
  // read; the server performs a connection's requests in order, so the bus sees the same two
  // writes as from two calls, one round trip sooner. Nothing when both went through; else the
  // first's fault when it was refused (the second was sent all the same: its reply is read and
  // dropped), else the second's. This default makes them two calls, the second only after the
  // first went through.
  virtual Result<void> write_pair(const ServerWrite& first, const ServerWrite& second) {
    if (auto done = write_regs(first.at, first.data); !done) return done;
    return write_regs(second.at, second.data);
  }
};

}  // namespace demodctl
