// Recording doubles of the two library call sets: every call is logged as one
// line of text, reads are answered from a register memory per device address,
// and a chosen register call can be made to fail.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bus/calc_api.h"
#include "bus/usbio_api.h"

namespace demodctl::testing {

// Register memory of the devices on the bus, keyed by (8-bit address, register).
class RegisterMemory {
 public:
  void set(int address, int reg, std::vector<uint8_t> bytes);
  uint8_t get(int address, int reg) const;
  void read(int address, int reg, uint8_t* buf, int count) const;
  void write(int address, int reg, const uint8_t* data, int count);

 private:
  std::map<std::pair<int, int>, uint8_t> regs_;
};

std::string hex(const uint8_t* bytes, int count);  // "D0 6C"

class RecordingCalc : public CalcBackend {
 public:
  RecordingCalc();  // installs itself and a recording delay hook
  ~RecordingCalc() override;

  std::vector<std::string> calls;
  RegisterMemory memory;
  // 1-based index among ReadregMulti/WriteregMulti/ReadregPeriod calls that
  // returns nonzero; 0 = none. fail_from makes that call and all later fail.
  int fail_at = 0;
  bool fail_from = false;
  int fail_reg = -1;  // every call on this register fails

  int init_sock(const char* host, int port) override;
  int set_i2c_speed(int channel, int speed) override;
  int read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                     int count) override;
  int write_reg_multi(int channel, int address, int reg, int reg_len, const uint8_t* data,
                      int count) override;
  int read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf, int item_len,
                      int total, int burst) override;
  int deinit_sock() override;

 private:
  bool next_fails(int reg);
  int register_calls_ = 0;
};

class RecordingUsbio : public UsbioBackend {
 public:
  RecordingUsbio();  // installs itself and a recording delay hook
  ~RecordingUsbio() override;

  std::vector<std::string> calls;
  RegisterMemory memory;
  bool open_fails = false;

  int open_device(int index) override;
  int set_stream(int index, int mode) override;
  int stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                 uint8_t* read_buf) override;
  int close_device(int index) override;
};

// Runs the front end on a command line, capturing standard output.
struct RunResult {
  int status;
  std::string out;
};
RunResult run_cli(std::vector<std::string> args);

}  // namespace demodctl::testing
