#include "support/recording_backends.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "bus/delay.h"
#include "cli/dispatch.h"

namespace demodctl::testing {

void RegisterMemory::set(int address, int reg, std::vector<uint8_t> bytes) {
  write(address, reg, bytes.data(), static_cast<int>(bytes.size()));
}
uint8_t RegisterMemory::get(int address, int reg) const {
  auto it = regs_.find({address, reg & 0xFF});
  return it == regs_.end() ? 0 : it->second;
}
void RegisterMemory::read(int address, int reg, uint8_t* buf, int count) const {
  for (int i = 0; i < count; ++i) buf[i] = get(address, reg + i);
}
void RegisterMemory::write(int address, int reg, const uint8_t* data, int count) {
  for (int i = 0; i < count; ++i) regs_[{address, (reg + i) & 0xFF}] = data[i];
}

std::string hex(const uint8_t* bytes, int count) {
  std::string s;
  char b[4];
  for (int i = 0; i < count; ++i) {
    std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", bytes[i]);
    s += b;
  }
  return s;
}

namespace {
std::string fmt(const char* format, auto... args) {
  char b[256];
  std::snprintf(b, sizeof b, format, args...);
  return b;
}
}  // namespace

RecordingCalc::RecordingCalc() {
  set_calc_backend(this);
  set_delay_hook([this](int ms) { calls.push_back(fmt("delay(%d)", ms)); });
}
RecordingCalc::~RecordingCalc() {
  set_calc_backend(nullptr);
  set_delay_hook(nullptr);
}
bool RecordingCalc::next_fails(int reg) {
  ++register_calls_;
  if (reg == fail_reg) return true;
  return fail_at != 0 && (register_calls_ == fail_at || (fail_from && register_calls_ > fail_at));
}
int RecordingCalc::init_sock(const char* host, int port) {
  calls.push_back(fmt("InitSock(%s,%d)", host, port));
  return 0;
}
int RecordingCalc::set_i2c_speed(int channel, int speed) {
  calls.push_back(fmt("seti2cspeed(%d,%d)", channel, speed));
  return 0;
}
int RecordingCalc::read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                                  int count) {
  calls.push_back(fmt("ReadregMulti(%d,%d,0x%02X,%d,%d)", channel, address, reg, reg_len, count));
  if (next_fails(reg)) return -1;
  memory.read(address, reg, buf, count);
  return 0;
}
int RecordingCalc::write_reg_multi(int channel, int address, int reg, int reg_len,
                                   const uint8_t* data, int count) {
  calls.push_back(fmt("WriteregMulti(%d,%d,0x%02X,%d,[%s])", channel, address, reg, reg_len,
                      hex(data, count).c_str()));
  if (next_fails(reg)) return -1;
  memory.write(address, reg, data, count);
  return 0;
}
int RecordingCalc::read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf,
                                   int item_len, int total, int burst) {
  calls.push_back(fmt("ReadregPeriod(%d,%d,0x%02X,%d,%d,%d,%d)", channel, address, reg, reg_len,
                      item_len, total, burst));
  if (next_fails(reg)) return -1;
  for (int i = 0; i < total; ++i) buf[i] = memory.get(address, reg);
  return 0;
}
int RecordingCalc::deinit_sock() {
  calls.push_back("DeinitSock()");
  return 0;
}

RecordingUsbio::RecordingUsbio() {
  set_usbio_backend(this);
  set_delay_hook([this](int ms) { calls.push_back(fmt("delay(%d)", ms)); });
}
RecordingUsbio::~RecordingUsbio() {
  set_usbio_backend(nullptr);
  set_delay_hook(nullptr);
}
int RecordingUsbio::open_device(int index) {
  calls.push_back(fmt("OpenDevice(%d)", index));
  return open_fails ? -1 : 0;
}
int RecordingUsbio::set_stream(int index, int mode) {
  calls.push_back(fmt("SetStream(%d,%d)", index, mode));
  return 1;
}
int RecordingUsbio::stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                               uint8_t* read_buf) {
  calls.push_back(fmt("StreamI2C(%d,[%s],%d)", index, hex(write_buf, write_len).c_str(), read_len));
  if (write_len >= 2) {
    if (read_len > 0) {
      memory.read(write_buf[0], write_buf[1], read_buf, read_len);
    } else {
      memory.write(write_buf[0], write_buf[1], write_buf + 2, write_len - 2);
    }
  }
  return 1;
}
int RecordingUsbio::close_device(int index) {
  calls.push_back(fmt("CloseDevice(%d)", index));
  return 1;
}

RunResult run_cli(std::vector<std::string> args) {
  args.insert(args.begin(), "demodctl");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStdout();
  const int status = dispatch(static_cast<int>(args.size()), argv.data());
  std::fflush(stdout);
  return {status, ::testing::internal::GetCapturedStdout()};
}

}  // namespace demodctl::testing
