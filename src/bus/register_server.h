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
};

}  // namespace demodctl
