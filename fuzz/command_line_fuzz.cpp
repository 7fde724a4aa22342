// libFuzzer target: demodctl's front end, given any command line, on a recording board double
// for both transports (the register-server calls and the USB bridge calls).
//
// Input layout: byte 0 sets up the board (below); the rest, split on NUL bytes, is argv[1..].
// Every command runs to its end: waits are skipped (the delay hook), polls are bounded by their
// counts, and the files a command writes land in a private temporary directory (created at
// start-up, removed at exit): each command runs in it, and the fuzzer itself stays in the
// directory it was started in, where its corpus paths and crash files are. After each run that
// directory may hold only the sample file and the debug log.
// Standard output goes to /dev/null, and so does the program's standard error stream (its usage
// line); descriptor 2 stays for libFuzzer and the sanitizer reports.
#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bus/delay.h"
#include "capture/sample_file.h"
#include "cli/dispatch.h"

namespace {

// Board byte: bit 0 the chip answers with its identity, bit 1 the identity that selects direct
// tuner access, bit 2 flags rise (a register read more than kRiseAfter times since it was last
// written reads 0xFF, so polls end; otherwise they run to their bound), bits 3..7 the register
// transfer (1..30) that fails; 31 makes opening the transport fail. Registers start as a pattern
// (register * kPatternStep) that reads as locked on DVB-S2.
constexpr uint8_t kPresentBit = 0x01;
constexpr uint8_t kDirectBit = 0x02;
constexpr uint8_t kRiseBit = 0x04;
constexpr int kRiseAfter = 2;
constexpr int kFailShift = 3;
constexpr int kOpenFails = 31;

constexpr uint8_t kIdentityReg = 0x6C;
constexpr uint8_t kPatternStep = 0x1D;  // neighbouring registers read different values

std::FILE* g_diagnostics = nullptr;  // the fuzz target's own messages (descriptor 2)
std::filesystem::path g_work_dir;
int g_start_dir = -1;  // the fuzzer's own working directory

// Register memory per 8-bit device address; reads answer from it, writes change it.
class Board : public demodctl::TransportLibraries,
              public demodctl::RegisterServer,
              public demodctl::I2cBridge,
              public demodctl::I2cBus {
 public:
  explicit Board(uint8_t setup) : setup_(setup), fail_at_(setup >> kFailShift) {}

  demodctl::RegisterServer& register_server() override { return *this; }
  demodctl::I2cBridge& usb_bridge() override { return *this; }

  demodctl::Result<void> connect(const std::string&, int) override {
    if (fail_at_ == kOpenFails) return refused();
    return {};
  }
  demodctl::Result<void> set_speed(int, int) override { return {}; }
  demodctl::Result<void> read_regs(const demodctl::ServerRegister& where,
                                   std::span<uint8_t> out) override {
    if (next_fails()) return refused();
    read(where.address, where.reg, out.data(), static_cast<int>(out.size()), true);
    return {};
  }
  demodctl::Result<void> write_regs(const demodctl::ServerRegister& where,
                                    std::span<const uint8_t> data) override {
    if (next_fails()) return refused();
    for (size_t i = 0; i < data.size(); ++i) store(where.address, where.reg + int(i), data[i]);
    return {};
  }
  demodctl::Result<void> read_period(const demodctl::ServerRegister& where, std::span<uint8_t> out,
                                     int, int) override {
    if (next_fails()) return refused();
    read(where.address, where.reg, out.data(), static_cast<int>(out.size()), false);
    return {};
  }
  void disconnect() override {}

  demodctl::Result<void> open(int) override {
    if (fail_at_ == kOpenFails)
      return demodctl::Fault{demodctl::FaultKind::open_error, "USB bridge 0"};
    return {};
  }
  demodctl::I2cBus* bus() override { return this; }
  void close() override {}
  // tx[0] is the register, the rest data written from it.
  demodctl::Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx,
                                  std::span<uint8_t> rx) override {
    if (next_fails()) return demodctl::i2c_bus_failure(addr7, "refused");
    const int address = addr7 << 1;
    if (!tx.empty()) pointer_[address] = tx[0];
    int& reg = pointer_[address];
    for (size_t i = 1; i < tx.size(); ++i) store(address, reg++, tx[i]);
    read(address, reg, rx.data(), static_cast<int>(rx.size()), true);
    return {};
  }

 private:
  // The register server's refusal of a transfer (its NACK status).
  static demodctl::Fault refused() { return {demodctl::FaultKind::refused, "NACK"}; }

  uint8_t& at(int address, int reg) {
    auto [it, fresh] = memory_.try_emplace(address & 0xFF);
    if (fresh) fill(address & 0xFF, it->second);
    return it->second[static_cast<size_t>(reg) & 0xFF];
  }

  void fill(int address, std::array<uint8_t, 256>& regs) const {
    for (size_t r = 0; r < regs.size(); ++r) regs[r] = static_cast<uint8_t>(r * kPatternStep);
    if (address != 0xD0) return;
    const bool present = (setup_ & kPresentBit) != 0;
    const bool direct = (setup_ & kDirectBit) != 0;
    const uint8_t identity[] = {static_cast<uint8_t>(direct ? 0x10 : 0x01),
                                static_cast<uint8_t>(direct ? 0x01 : 0x00), 0x36,
                                static_cast<uint8_t>(present ? 0x31 : 0x30)};
    std::memcpy(&regs[kIdentityReg], identity, sizeof identity);
  }

  // `advance`: successive registers (a block read); otherwise the same register again (a FIFO).
  void read(int address, int reg, uint8_t* buf, int count, bool advance) {
    for (int i = 0; i < count; ++i) {
      const int r = advance ? reg + i : reg;
      const bool risen = (setup_ & kRiseBit) != 0 && ++reads_[key(address, r)] > kRiseAfter;
      buf[i] = risen ? 0xFF : at(address, r);
    }
  }

  void store(int address, int reg, uint8_t value) {
    at(address, reg) = value;
    reads_.erase(key(address, reg));
  }

  static int key(int address, int reg) { return (address & 0xFF) << 8 | (reg & 0xFF); }

  bool next_fails() { return ++transfers_ == fail_at_; }

  uint8_t setup_;
  int fail_at_;
  int transfers_ = 0;
  std::map<int, std::array<uint8_t, 256>> memory_;
  std::map<int, int> pointer_;
  std::map<int, int> reads_;  // reads of (address, register) since its last write
};

// After a run the directory holds at most the sample file and the debug log: a temporary file
// left behind (a capture's half-written samples) is a fault.
void check_work_dir() {
  for (const auto& entry : std::filesystem::directory_iterator(g_work_dir)) {
    const std::string name = entry.path().filename().string();
    if (name != demodctl::kSampleFileName && name != demodctl::kDebugLogName) {
      std::fprintf(g_diagnostics, "command_line_fuzz: %s left behind\n", name.c_str());
      std::abort();
    }
  }
}

void remove_work_dir() {
  std::error_code ignored;
  std::filesystem::remove_all(g_work_dir, ignored);
}

}  // namespace

// Waits cost no time: a fake clock that the waits advance, so a poll still reaches its deadline
// (after its count of waits) without the fuzzer sleeping through it.
class InstantClock : public demodctl::WaitClock {
 public:
  demodctl::MonotonicTime now() override { return demodctl::MonotonicTime{} + elapsed_; }
  void delay_ms(int ms) override {
    if (ms > 0) elapsed_ += std::chrono::milliseconds(ms);
  }

 private:
  std::chrono::milliseconds elapsed_{0};
};

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_diagnostics = ::fdopen(::dup(2), "w");
  const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null_fd < 0 || ::dup2(null_fd, 1) < 0) std::abort();
  // The program's stream, not the descriptor: libFuzzer took its own handle on stderr before
  // this runs, and the sanitizers write to descriptor 2 directly.
  stderr = ::fdopen(null_fd, "w");

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/demodctl-fuzz-XXXXXX";
  g_start_dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (g_start_dir < 0 || ::mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(g_diagnostics, "command_line_fuzz: no temporary directory in %s\n",
                 pattern.c_str());
    std::abort();
  }
  g_work_dir = pattern;
  std::atexit(remove_work_dir);
  static InstantClock clock;
  demodctl::set_wait_clock(&clock);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Board board(data[0]);
  std::vector<std::string> args = {"demodctl"};
  const auto* text = reinterpret_cast<const char*>(data + 1);
  const std::string rest(text, size - 1);
  size_t start = 0;
  for (size_t nul; (nul = rest.find('\0', start)) != std::string::npos; start = nul + 1) {
    args.push_back(rest.substr(start, nul - start));
  }
  if (start < rest.size()) args.push_back(rest.substr(start));
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  if (::chdir(g_work_dir.c_str()) != 0) std::abort();
  demodctl::finish_output(demodctl::dispatch(static_cast<int>(args.size()), argv.data(), board));
  if (::fchdir(g_start_dir) != 0) std::abort();
  check_work_dir();
  return 0;
}
