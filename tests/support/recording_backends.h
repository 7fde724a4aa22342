// Recording doubles of the two transports' call sets: every call is logged as one line of text in
// one shared log (with the waits), reads are answered from a register memory per device address,
// and chosen register transfers can be made to fail.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bus/calc_api.h"
#include "bus/usbio_api.h"
#include "cli/dispatch.h"

namespace demodctl::testing {

using Calls = std::vector<std::string>;

// Register memory of the devices on the bus, keyed by (8-bit address, register).
class RegisterMemory {
 public:
  void set(int address, int reg, std::vector<uint8_t> bytes);
  uint8_t get(int address, int reg) const;
  void write(int address, int reg, const uint8_t* data, int count);

 private:
  std::map<std::pair<int, int>, uint8_t> regs_;
};

std::string hex(const uint8_t* bytes, size_t count);  // "D0 6C"

// What both doubles share: the log, the memory, scripted reads and the failure plan.
struct Recorder {
  Calls calls;
  RegisterMemory memory;
  // Values that successive reads of a register give before the memory answers again
  // (keyed by 8-bit address and register).
  std::map<std::pair<int, int>, std::deque<uint8_t>> script;
  void read(int address, int reg, uint8_t* buf, int count);
  // 1-based index among register transfers (ReadregMulti/WriteregMulti/ReadregPeriod, or
  // StreamI2C) that fails; 0 = none. fail_from makes that transfer and all later ones fail.
  int fail_at = 0;
  bool fail_from = false;
  int fail_reg = -1;  // every transfer on this register fails
  bool next_fails(int reg);
  int transfers = 0;
};

class RecordingCalc : public CalcBackend {
 public:
  explicit RecordingCalc(Recorder& r) : r_(r) {}
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
  Recorder& r_;
};

class RecordingUsbio : public UsbioBackend {
 public:
  explicit RecordingUsbio(Recorder& r) : r_(r) {}
  bool open_fails = false;
  int open_device(int index) override;
  int set_stream(int index, int mode) override;
  int stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                 uint8_t* read_buf) override;
  int close_device(int index) override;

 private:
  Recorder& r_;
};

// Both doubles behind the front end; delay_ms is recorded as "delay(N)" while it lives.
struct TestPlatform : Platform, Recorder {
  TestPlatform();
  ~TestPlatform() override;
  CalcBackend& calc() override { return calc_double; }
  UsbioBackend& usbio() override { return usbio_double; }
  RecordingCalc calc_double{*this};
  RecordingUsbio usbio_double{*this};
};

// Runs the front end on a command line, capturing standard output.
struct RunResult {
  int status;
  std::string out;
};
RunResult run_cli(TestPlatform& platform, std::vector<std::string> args);

// Runs body() and gives what it printed on standard output.
template <typename Body>
std::string captured(Body&& body);

}  // namespace demodctl::testing

#include <gtest/gtest.h>

template <typename Body>
std::string demodctl::testing::captured(Body&& body) {
  ::testing::internal::CaptureStdout();
  body();
  return ::testing::internal::GetCapturedStdout();
}
