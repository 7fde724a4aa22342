// The client calls of the network register server (socket transport), as the tool uses them:
//
//   InitSock(host, port)                                   opens the connection; result ignored
//   seti2cspeed(channel, speed)                            result ignored
//   ReadregMulti(channel, address, reg, 1, buf, count)     0 on success
//   WriteregMulti(channel, address, reg, 1, data, count)   0 on success
//   ReadregPeriod(channel, address, 0xEF, 1, buf, 1, 8192, 100)
//                                                          8192 one-byte reads of 0xEF; 0 on
//                                                          success
//   DeinitSock()                                           ends the connection; result ignored
//
// RegClient (bus/reg_client.h) implements them over regserver's protocol; tests give a recording
// double.
#pragma once

#include <cstdint>

#include "result/result.h"

namespace demodctl {

class RegisterServerCalls {
 public:
  virtual ~RegisterServerCalls() = default;
  // Opens the connection to the register server used by the following calls.
  virtual int init_sock(const char* host, int port) = 0;
  // Sets the I2C speed value (kHz) of a channel.
  virtual int set_i2c_speed(int channel, int speed) = 0;
  // Reads count bytes from registers reg, reg+1, ... of the device at the 8-bit bus address
  // `address` on `channel`. reg_len is the width of the register address in bytes (1 or 2).
  virtual int read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                             int count) = 0;
  // Writes count bytes to registers reg, reg+1, ...
  virtual int write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                              int count) = 0;
  // Reads `total` bytes as successive reads of `item_len` bytes each from the same register (a
  // FIFO data port). `burst` is how many reads the server makes back to back before it lets
  // other clients' transactions on that channel in.
  virtual int read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf,
                              int item_len, int total, int burst) = 0;
  // Ends the connection.
  virtual int deinit_sock() = 0;
  // Beside them, like a library's "last error" call: what became of the last register call
  // (nothing when it went through), the server's status or the client's own cause in words.
  virtual Result<void> last_call_result() const = 0;
};

}  // namespace demodctl
