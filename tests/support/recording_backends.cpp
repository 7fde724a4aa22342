#include "support/recording_backends.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "cli/dispatch.h"
#include "outcome/result_line.h"

namespace demodctl::testing {
Calls split(const std::string& text) {
  Calls out;
  for (size_t at = 0, end = 0; at < text.size(); at = end + 2) {
    end = std::min(text.find("; ", at), text.size());
    out.push_back(text.substr(at, end - at));
  }
  return out;
}

std::string hex(const uint8_t* bytes, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s += fmt(i == 0 ? "%02X" : " %02X", bytes[i]);
  return s;
}

void TestPlatform::set(int reg, const std::vector<uint8_t>& bytes, int address) {
  for (size_t i = 0; i < bytes.size(); ++i) memory[{address, (reg + int(i)) & 0xFF}] = bytes[i];
}

void TestPlatform::read(int address, int reg, uint8_t* buf, int count) {
  for (int i = 0; i < count; ++i) {
    const std::pair<int, int> at{address, (reg + i) & 0xFF};
    auto& queue = script[at];
    buf[i] = queue.empty() ? memory[at] : queue.front();
    if (!queue.empty()) queue.pop_front();
  }
}

bool TestPlatform::next_fails(int reg) {
  ++transfers_;
  elapsed += transfer_ms;
  return reg == fail_reg || fail_at < 0 || transfers_ == fail_at;
}

Result<void> TestPlatform::read_regs(const ServerRegister& at, std::span<uint8_t> out) {
  calls.push_back(fmt("ReadregMulti(%d,%d,0x%02X,%d,%zu)", at.channel, at.address, at.reg,
                      at.reg_len, out.size()));
  std::fill(out.begin(), out.end(), uint8_t{0xEE});  // what a failed call may leave behind
  if (next_fails(at.reg)) return refused_transfer("read", at.channel, at.address, at.reg);
  read(at.address, at.reg, out.data(), static_cast<int>(out.size()));
  return {};
}
Result<void> TestPlatform::write_regs(const ServerRegister& at, std::span<const uint8_t> data) {
  calls.push_back(fmt("WriteregMulti(%d,%d,0x%02X,%d,[%s])", at.channel, at.address, at.reg,
                      at.reg_len, hex(data.data(), data.size()).c_str()));
  if (next_fails(at.reg)) return refused_transfer("write", at.channel, at.address, at.reg);
  set(at.reg, {data.begin(), data.end()}, at.address);
  return {};
}
Result<void> TestPlatform::read_period(const ServerRegister& at, std::span<uint8_t> out,
                                       int item_len, int burst) {
  calls.push_back(fmt("ReadregPeriod(%d,%d,0x%02X,%d,%d,%zu,%d)", at.channel, at.address, at.reg,
                      at.reg_len, item_len, out.size(), burst));
  std::fill(out.begin(), out.end(), uint8_t{0xEE});
  if (next_fails(at.reg)) return refused_transfer("period read", at.channel, at.address, at.reg);
  for (uint8_t& byte : out) read(at.address, at.reg, &byte, 1);
  return {};
}

Result<void> TestPlatform::transfer(uint8_t addr7, std::span<const uint8_t> tx,
                                    std::span<uint8_t> rx) {
  std::vector<uint8_t> written{static_cast<uint8_t>(addr7 << 1)};  // the address byte first
  written.insert(written.end(), tx.begin(), tx.end());
  calls.push_back(
      fmt("StreamI2C(0,[%s],%zu)", hex(written.data(), written.size()).c_str(), rx.size()));
  std::fill(rx.begin(), rx.end(), uint8_t{0xEE});
  if (tx.empty() || next_fails(tx[0])) return Fault{stream_refusal, "refused"};
  if (!rx.empty()) {
    read(written[0], tx[0], rx.data(), static_cast<int>(rx.size()));
  } else {
    set(tx[0], {tx.begin() + 1, tx.end()}, written[0]);
  }
  return {};
}

TestPlatform::TestPlatform() { set_wait_clock(this); }
TestPlatform::~TestPlatform() { set_wait_clock(nullptr); }

RunResult run_cli(TestPlatform& platform, std::vector<std::string> args) {
  args.insert(args.begin(), "demodctl");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<Outcome> outcomes;
  ::testing::internal::CaptureStdout();
  const int status = dispatch(static_cast<int>(args.size()), argv.data(), platform, false,
                              [&](const Outcome& outcome) { outcomes.push_back(outcome); });
  std::fflush(stdout);
  RunResult r{status, ::testing::internal::GetCapturedStdout()};
  // A command writes nothing itself: its one line is the outcome it returns.
  if (!outcomes.empty()) {
    EXPECT_EQ(r.out, "") << "written beside the outcome";
    EXPECT_EQ(outcomes.size(), 1U) << "one line per run";
  }
  for (const Outcome& outcome : outcomes) {
    r.out += result_line(outcome);
    EXPECT_EQ(r.status, exit_status(outcome));
  }
  return r;
}

std::vector<std::string> command_line(bool socket, std::vector<std::string> command) {
  command.insert(command.begin(), {"100", "208"});
  if (socket) command.insert(command.begin(), {"127.0.0.1", "5000", "0"});
  command.push_back(socket ? "1" : "0");
  return command;
}

Calls expand(const std::string& ops, bool socket, bool closed) {
  Calls calls = socket ? Calls{"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)"}
                       : Calls{"OpenDevice(0)", "SetStream(0,100)"};
  std::istringstream words(ops);
  for (std::string op; words >> op;) {
    const char* reg = op.c_str();  // its first two characters
    const char kind = op.size() > 2 ? op[2] : '+';
    const int n = kind != '=' && op.size() > 3 ? std::stoi(op.substr(3)) : 1;
    if (op[0] == 'd') {
      calls.push_back(fmt("delay(%s)", reg + 1));
    } else if (kind == '=') {
      std::string bytes;
      for (size_t i = 3; i < op.size(); i += 2) bytes.append(" ").append(op, i, 2);
      calls.push_back(socket ? fmt("WriteregMulti(0,208,0x%.2s,1,[%s])", reg, bytes.c_str() + 1)
                             : fmt("StreamI2C(0,[D0 %.2s%s],0)", reg, bytes.c_str()));
    } else if (kind == '*') {
      if (socket) calls.push_back(fmt("ReadregPeriod(0,208,0x%.2s,1,1,%d,100)", reg, n));
      if (!socket) calls.insert(calls.end(), n, fmt("StreamI2C(0,[D0 %.2s],1)", reg));
    } else {
      calls.push_back(socket ? fmt("ReadregMulti(0,208,0x%.2s,1,%d)", reg, n)
                             : fmt("StreamI2C(0,[D0 %.2s],%d)", reg, n));
    }
  }
  if (closed) calls.push_back(socket ? "DeinitSock()" : "CloseDevice(0)");
  return calls;
}

void expect_run(TestPlatform& p, bool socket, const std::vector<std::string>& command,
                const std::string& ops, const std::string& out) {
  SCOPED_TRACE(command.back() + (socket ? " on the server" : " on the bridge") + ": " + ops);
  const RunResult r = run_cli(p, command_line(socket, command));
  const bool failed = out.ends_with("return=-1");
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.status, failed ? -1 : 0);
  if (out.find("openerror") != std::string::npos) {
    EXPECT_EQ(p.calls, Calls{"OpenDevice(0)"});
  } else {
    EXPECT_EQ(p.calls, expand(ops, socket, !failed));
  }
}

}  // namespace demodctl::testing
