// The six measurement commands over the recording doubles of both transports: exact reads and
// waits, lines, no-lock paths, refused transfers, the AGC poll's order and bound, the debug log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>
#include <string>
#include <vector>

#include "bus/poll.h"
#include "cli/debug_log.h"
#include "support/process.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

using Regs = std::vector<std::pair<int, std::vector<uint8_t>>>;

// A locked board's measurement registers (lock status set per case).
const Regs kBoard = {{0x6C, {0x12, 0x34, 0x36, 0x31}},
                     {0x37, {0x60, 0x89}},
                     {0x23, {0x6C, 0x6B, 0x00, 0, 0, 0, 0x21, 0x43, 0x05}},  // fc, lock time
                     {0x7E, {0x01, 0x80}},
                     {0x83, {0x20, 0xE8, 0x03}},  // BER window, error count
                     {0x4C, {0x00, 0xF0, 0x00, 0x80}},
                     {0x5C, {0x10}},
                     {0x8E, {0x01}}};
const std::string kFail = "error=err no connection,failed,return=-1";

struct Case {
  const char* cmd;
  uint8_t status;   // register 0x2C
  Regs changes;     // over kBoard
  int fail_at;      // the refused transfer, from 1 (0: none)
  std::string ops;  // after the open: "2C" one byte read, "37+2" two bytes, "d2" delay(2)
  std::string out;
};

// The flag of 0x38 never rises: 1500 more reads, each followed by its 2 ms wait, then the bound.
std::string never_ready() {
  std::string ops = "6C+4 37+2";
  for (int i = 0; i < kPollBoundMs / 2; ++i) ops += " 37+2 d2";
  return ops;
}

const Case kCases[] = {
    {"sig_str", 0, {}, 0, "6C+4 37+2", "error=ok,return=25"},
    {"sig_str", 0, {{0x6C, {0, 0, 0x36, 0x30}}}, 0, "6C+4", "error=ok,return=0"},
    {"sig_str", 0, {{0x38, {0x09}}}, 0, never_ready(), "error=err timeout,failed,return=-1"},
    {"sig_str", 0, {{0x38, {0x09}}}, 4, "6C+4 37+2 37+2 d2 37+2", kFail},
    {"cn_read", 0, {}, 0, "6C+4 7F 7E", "error=ok,return=39.133900"},
    {"cn_read", 0, {{0x7F, {0x7F}}}, 0, "6C+4 7F 7E", "error=ok,return=-10.000000"},
    {"cn_read", 0, {{0x6C, {0, 0, 0, 0}}}, 0, "6C+4", "error=ok,return=-10.000000"},
    {"cn_read", 0, {}, 3, "6C+4 7F 7E", kFail},
    {"ber_calc", 0x28, {}, 0, "2C 84+2 83 5C", "error=ok,return=0.000241"},
    {"ber_calc", 0x20, {}, 0, "2C 84+2 83 8E", "error=ok,return=0.003344"},
    {"ber_calc", 0xDF, {}, 0, "2C", "error=ok,return=0.500000"},
    {"ber_calc", 0x28, {}, 3, "2C 84+2 83", kFail},
    {"lock_time", 0x20, {}, 0, "2C 29 2A 2B", "error=ok,return=270"},
    {"lock_time", 0x08, {}, 0, "2C", "error=ok,return=0"},
    {"carrier_err", 0x20, {}, 0, "2C 23 24 25 4E 4F", "error=ok,return=-6875"},
    {"carrier_err", 0x1F, {}, 0, "2C", "error=ok,return=0"},
    {"carrier_err", 0x20, {}, 1, "2C", kFail},
    {"symbol_err", 0x20, {}, 0, "2C 23 24 25 4C 4D", "error=ok,return=-26"},
    {"symbol_err", 0x00, {}, 0, "2C", "error=ok,return=0.000000"},
    {"symbol_err", 0x20, {}, 6, "2C 23 24 25 4C 4D", kFail},
};

// The calls a transport makes for the shorthand.
Calls expand(const std::string& ops, bool socket) {
  Calls calls = socket ? Calls{"InitSock(127.0.0.1,5000)", "seti2cspeed(0,100)"}
                       : Calls{"OpenDevice(0)", "SetStream(0,100)"};
  std::istringstream words(ops);
  char call[64];
  for (std::string op; words >> op;) {
    const int reg = std::stoi(op.substr(0, 2), nullptr, 16);
    const int count = op.size() > 2 ? std::stoi(op.substr(3)) : 1;
    const char* format = socket ? "ReadregMulti(0,208,0x%02X,1,%d)" : "StreamI2C(0,[D0 %02X],%d)";
    std::snprintf(call, sizeof call, format, reg, count);
    calls.push_back(op == "d2" ? "delay(2)" : call);
  }
  return calls;
}

RunResult run(TestPlatform& p, const char* cmd, bool socket) {
  if (socket) return run_cli(p, {"127.0.0.1", "5000", "0", "100", "208", cmd, "1"});
  return run_cli(p, {"100", "208", cmd, "0"});
}

// symbol_err appends to the debug log: each locked run a block, a refused read what came before
// it (left open until the log is closed, as at the end of a process). A log that cannot be
// opened changes nothing else.
TEST(Measurements, ReadsLinesFailuresAndTheDebugLogOnBothTransports) {
  in_temp_dir([](const std::string& dir) {
    write_file(dir, kDebugLogName, "earlier\n");
    for (const Case& c : kCases) {
      for (const bool socket : {true, false}) {
        TestPlatform p;
        for (const Regs& regs : {kBoard, c.changes}) {
          for (const auto& [reg, bytes] : regs) p.memory.set(0xD0, reg, bytes);
        }
        p.memory.set(0xD0, 0x2C, {c.status});
        p.fail_at = c.fail_at;
        const RunResult r = run(p, c.cmd, socket);
        const bool failed = c.out.ends_with("-1");
        Calls want = expand(c.ops, socket);
        if (!failed) want.push_back(socket ? "DeinitSock()" : "CloseDevice(0)");
        EXPECT_EQ(r.out, c.out) << c.cmd << " " << socket;
        EXPECT_EQ(r.status, failed ? -1 : 0);
        EXPECT_EQ(p.calls, want) << c.cmd << " " << socket << " " << c.ops.substr(0, 40);
      }
    }
    debug_log_close();
    const std::string banner = std::string(28, '-') + "symbol_err begining!" + std::string(43, '-');
    const std::string cut = banner + "\nfc=27500\n";
    const std::string block = cut + "fs_oofset=61440,fs_offset_fc=-4096\nfs_err_kHz=-26.855469\n";
    EXPECT_EQ(read_file(dir + "/" + kDebugLogName), "earlier\n" + block + block + cut + cut);
    std::remove((dir + "/" + kDebugLogName).c_str());
    ASSERT_EQ(mkdir((dir + "/" + kDebugLogName).c_str(), 0755), 0);
    TestPlatform p;
    for (const auto& [reg, bytes] : kBoard) p.memory.set(0xD0, reg, bytes);
    p.memory.set(0xD0, 0x2C, {0x20});
    EXPECT_EQ(run(p, "symbol_err", false).out, "error=ok,return=-26");
  });
}

}  // namespace
}  // namespace demodctl::testing
