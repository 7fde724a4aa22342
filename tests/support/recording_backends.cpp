#include "support/recording_backends.h"

#include <cstdio>

#include "bus/delay.h"

namespace demodctl::testing {

void RegisterMemory::set(int address, int reg, std::vector<uint8_t> bytes) {
  write(address, reg, bytes.data(), static_cast<int>(bytes.size()));
}
uint8_t RegisterMemory::get(int address, int reg) const {
  auto it = regs_.find({address, reg & 0xFF});
  return it == regs_.end() ? 0 : it->second;
}
void RegisterMemory::write(int address, int reg, const uint8_t* data, int count) {
  for (int i = 0; i < count; ++i) regs_[{address, (reg + i) & 0xFF}] = data[i];
}

std::string hex(const uint8_t* bytes, size_t count) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < count; ++i) {
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

void Recorder::read(int address, int reg, uint8_t* buf, int count) {
  for (int i = 0; i < count; ++i) {
    auto& queue = script[{address, (reg + i) & 0xFF}];
    buf[i] = queue.empty() ? memory.get(address, reg + i) : queue.front();
    if (!queue.empty()) queue.pop_front();
  }
}

bool Recorder::next_fails(int reg) {
  ++transfers;
  if (reg == fail_reg) return true;
  return fail_at != 0 && (transfers == fail_at || (fail_from && transfers > fail_at));
}

int RecordingCalc::init_sock(const char* host, int port) {
  r_.calls.push_back(fmt("InitSock(%s,%d)", host, port));
  return 0;
}
int RecordingCalc::set_i2c_speed(int channel, int speed) {
  r_.calls.push_back(fmt("seti2cspeed(%d,%d)", channel, speed));
  return 0;
}
int RecordingCalc::read_reg_multi(int channel, int address, int reg, int reg_len, uint8_t* buf,
                                  int count) {
  r_.calls.push_back(
      fmt("ReadregMulti(%d,%d,0x%02X,%d,%d)", channel, address, reg, reg_len, count));
  for (int i = 0; i < count; ++i) buf[i] = 0xEE;  // what a failed call may leave behind
  if (r_.next_fails(reg)) return -1;
  r_.read(address, reg, buf, count);
  return 0;
}
int RecordingCalc::write_reg_multi(int channel, int address, int reg, int reg_len,
                                   const uint8_t* data, int count) {
  r_.calls.push_back(fmt("WriteregMulti(%d,%d,0x%02X,%d,[%s])", channel, address, reg, reg_len,
                         hex(data, static_cast<size_t>(count)).c_str()));
  if (r_.next_fails(reg)) return -1;
  r_.memory.write(address, reg, data, count);
  return 0;
}
int RecordingCalc::read_reg_period(int channel, int address, int reg, int reg_len, uint8_t* buf,
                                   int item_len, int total, int burst) {
  r_.calls.push_back(fmt("ReadregPeriod(%d,%d,0x%02X,%d,%d,%d,%d)", channel, address, reg, reg_len,
                         item_len, total, burst));
  if (r_.next_fails(reg)) return -1;
  for (int i = 0; i < total; ++i) r_.read(address, reg, buf + i, 1);
  return 0;
}
int RecordingCalc::deinit_sock() {
  r_.calls.push_back("DeinitSock()");
  return 0;
}

int RecordingUsbio::open_device(int index) {
  r_.calls.push_back(fmt("OpenDevice(%d)", index));
  return open_fails ? -1 : 0;
}
int RecordingUsbio::set_stream(int index, int mode) {
  r_.calls.push_back(fmt("SetStream(%d,%d)", index, mode));
  return 1;
}
int RecordingUsbio::stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                               uint8_t* read_buf) {
  r_.calls.push_back(fmt("StreamI2C(%d,[%s],%d)", index,
                         hex(write_buf, static_cast<size_t>(write_len)).c_str(), read_len));
  for (int i = 0; i < read_len; ++i) read_buf[i] = 0xEE;
  if (write_len < 2 || r_.next_fails(write_buf[1])) return 0;
  if (read_len > 0) {
    r_.read(write_buf[0], write_buf[1], read_buf, read_len);
  } else {
    r_.memory.write(write_buf[0], write_buf[1], write_buf + 2, write_len - 2);
  }
  return 1;
}
int RecordingUsbio::close_device(int index) {
  r_.calls.push_back(fmt("CloseDevice(%d)", index));
  return 1;
}

TestPlatform::TestPlatform() {
  set_delay_hook([this](int ms) { calls.push_back(fmt("delay(%d)", ms)); });
}
TestPlatform::~TestPlatform() { set_delay_hook(nullptr); }

RunResult run_cli(TestPlatform& platform, std::vector<std::string> args) {
  args.insert(args.begin(), "demodctl");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStdout();
  const int status = dispatch(static_cast<int>(args.size()), argv.data(), platform);
  std::fflush(stdout);
  return {status, ::testing::internal::GetCapturedStdout()};
}

}  // namespace demodctl::testing
