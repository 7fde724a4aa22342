// Client calls of the network register server (socket transport).
//
// The commands reach the server only through these six calls. They forward to
// the installed CalcBackend: by default the TCP client of regserver's protocol;
// tests install a recording double.
#pragma once

#include <cstdint>

namespace demodctl {

// Opens the connection to the register server used by the following calls.
int InitSock(const char* host, int port);
// Sets the I2C speed value (kHz) of a channel.
int seti2cspeed(int channel, int speed);
// Reads count bytes from registers reg, reg+1, ... of the device at the 8-bit
// bus address `address` on `channel`. reg_len is the width of the register
// address in bytes (1 or 2). 0 on success, nonzero on failure.
int ReadregMulti(int channel, int address, int reg, int reg_len, uint8_t* buf, int count);
// Writes count bytes to registers reg, reg+1, ... 0 on success, nonzero on failure.
int WriteregMulti(int channel, int address, int reg, int reg_len, const uint8_t* data, int count);
// Reads `total` bytes as successive reads of `item_len` bytes each from the
// same register (a FIFO data port). `burst` is how many reads the server makes
// back to back before it lets other clients' transactions on that channel in.
int ReadregPeriod(int channel, int address, int reg, int reg_len, uint8_t* buf, int item_len,
                  int total, int burst);
// Ends the connection.
int DeinitSock();

class CalcBackend {
 public:
  virtual ~CalcBackend() = default;
  virtual int init_sock(const char* host, int port) = 0;
  virtual int set_i2c_speed(int channel, int speed) = 0;
  virtual int read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                             int count) = 0;
  virtual int write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                              int count) = 0;
  virtual int read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf,
                              int item_len, int total, int burst) = 0;
  virtual int deinit_sock() = 0;
};

// Installs a backend (not owned); nullptr restores the network client.
void set_calc_backend(CalcBackend* backend);

}  // namespace demodctl
