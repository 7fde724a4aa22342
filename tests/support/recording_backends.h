// Recording doubles: of the two transports' libraries (every call, and every delay_ms, one line of
// text in one log; reads answered from a register memory per device address; chosen register
// transfers fail), and of an I2C bus.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bus/delay.h"
#include "bus/i2c_bridge.h"
#include "bus/register_server.h"
#include "bus/transport_libraries.h"
#include "server/bus_backend.h"

namespace demodctl::testing {

using Calls = std::vector<std::string>;

std::string fmt(const char* format, auto... args) {
  char b[256];
  std::snprintf(b, sizeof b, format, args...);
  return b;
}
Calls split(const std::string& text);                 // "a; b; c" -> {"a", "b", "c"}
std::string hex(const uint8_t* bytes, size_t count);  // "D0 6C"

// While it lives it is also the clock: delay_ms is recorded as "delay(N)" and moves its time on
// by N ms, as every register transfer does by transfer_ms.
struct TestPlatform : TransportLibraries, RegisterServer, I2cBridge, I2cBus, WaitClock {
  TestPlatform();
  ~TestPlatform() override;
  RegisterServer& register_server() override { return *this; }
  I2cBridge& usb_bridge() override { return *this; }
  void set(int reg, const std::vector<uint8_t>& bytes, int address = 0xD0);

  Calls calls;
  std::map<std::pair<int, int>, uint8_t> memory;  // (8-bit address, register)
  // Values successive reads of a register give before the memory answers again.
  std::map<std::pair<int, int>, std::deque<uint8_t>> script;
  // The register transfer (ReadregMulti, WriteregMulti, ReadregPeriod or StreamI2C, from 1) that
  // fails, 0 for none, -1 for all; every transfer on fail_reg fails too.
  int fail_at = 0;
  int fail_reg = -1;
  bool open_fails = false;  // OpenDevice
  // What a refused StreamI2C was: the device's NACK (a silent chip),
  // or a failure of the bridge itself (unplugged).
  FaultKind stream_refusal = FaultKind::nack;

  std::chrono::milliseconds transfer_ms{0};
  std::chrono::milliseconds elapsed{0};

  MonotonicTime now() override { return MonotonicTime{} + elapsed; }
  void delay_ms(int ms) override {
    calls.push_back(fmt("delay(%d)", ms));
    elapsed += std::chrono::milliseconds(ms);
  }

  // The server's calls, logged by the names of its client library's calls.
  Result<void> connect(const std::string& host, int port) override {
    log(0, "InitSock(%s,%d)", host.c_str(), port);
    return {};
  }
  Result<void> set_speed(int ch, int speed) override {
    log(0, "seti2cspeed(%d,%d)", ch, speed);
    return {};
  }
  Result<void> read_regs(const ServerRegister& at, std::span<uint8_t> out) override;
  Result<void> write_regs(const ServerRegister& at, std::span<const uint8_t> data) override;
  Result<void> read_period(const ServerRegister& at, std::span<uint8_t> out, int item_len,
                           int burst) override;
  void disconnect() override { log(0, "DeinitSock()"); }
  // As the client sends it: both writes made, the first's refusal the pair's.
  Result<void> write_pair(const ServerWrite& first, const ServerWrite& second) override {
    const Result<void> done = write_regs(first.at, first.data);
    const Result<void> then = write_regs(second.at, second.data);
    return done ? then : done;
  }
  // The bridge and its scripted bus, logged by the names of the bridge library's calls.
  Result<void> open(int speed) override {
    log(0, "OpenDevice(0)");
    if (open_fails) return Fault{FaultKind::open_error, "USB bridge 0"};
    log(0, "SetStream(0,%d)", speed);
    return {};
  }
  I2cBus* bus() override { return this; }
  void close() override { log(0, "CloseDevice(0)"); }
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;

 private:
  int log(int result, const char* format, auto... args) {
    calls.push_back(fmt(format, args...));
    return result;
  }
  void read(int address, int reg, uint8_t* buf, int count);
  bool next_fails(int reg);
  int transfers_ = 0;
};

struct RunResult {
  int status;
  std::string out;  // standard output (help, version), or the result line of the returned outcome
};
RunResult run_cli(TestPlatform& platform, std::vector<std::string> args);

// The command line of a command (with the own arguments before it) for the demodulator at 208,
// speed 100: on the register server at 127.0.0.1:5000 channel 0, or on the bridge.
std::vector<std::string> command_line(bool socket, std::vector<std::string> command);

// The calls of a command on that transport, in shorthand: "2C" reads 0x2C, "6C+4" four bytes from
// 0x6C, "2E=0103" writes 01 03 from 0x2E, "EF*8192" fetches 8192 bytes from 0xEF, "d5" is
// delay(5). The transport's open calls come first, its close last when `closed`.
Calls expand(const std::string& ops, bool socket, bool closed);

// Runs the command and checks the line, the status (-1 after a line ending in -1, else 0) and the
// calls: `ops`, closed only when the status is 0 (just the open call when it was refused).
void expect_run(TestPlatform& p, bool socket, const std::vector<std::string>& command,
                const std::string& ops, const std::string& out);

template <typename Body>
std::string captured(Body&& body) {  // what body() printed on standard output
  ::testing::internal::CaptureStdout();
  body();
  return ::testing::internal::GetCapturedStdout();
}

// An I2C bus (channel 0 of a server backend) that logs "68: 6C -> 4" (addr7, the bytes written,
// the number read) per transaction and answers reads with A0 A1 ...; only `acks` acknowledges,
// the others leave EE in what they were to read.
// How a transaction ended, in words: "ok", or the fault's kind ("NACK", "bus failure").
inline std::string status_of(const Result<void>& result) {
  return result ? "ok" : std::string(kind_name(result.error().kind));
}
inline constexpr std::string_view kOk = "ok", kNack = "NACK", kBusFailure = "bus failure";

struct RecordingBus : I2cBus, BusBackend {
  Calls log;
  uint8_t acks = 0x68;
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx,
                        std::span<uint8_t> rx) override {
    log.push_back(hex(&addr7, 1) + ": " + hex(tx.data(), tx.size()) + " -> " +
                  std::to_string(rx.size()));
    for (size_t i = 0; i < rx.size(); ++i) rx[i] = addr7 == acks ? uint8_t(0xA0 + i) : 0xEE;
    if (addr7 == acks) return {};
    return i2c_nack(addr7);
  }
  I2cBus* channel(int32_t n) override { return n == 0 ? this : nullptr; }
  bool set_speed(int32_t, int32_t) override { return true; }
};

}  // namespace demodctl::testing
