// The tuner drivers' arithmetic, and tuner_set's exact sequence of bus calls, waits and log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "support/process.h"
#include "support/recording_backends.h"
#include "support/temp_dir.h"
#include "tuner/rda5815.h"
#include "tuner/tuner0.h"

namespace demodctl::testing {
namespace {

const std::string kFail = "error=err no connection,failed,return=-1";

TEST(Rda5815, FrequencyWordAndFilterByte) {
  const std::pair<int32_t, uint32_t> words[] = {
      {950, 0x04F2A96E},   {1550, 0x0812A8A6}, {2150, 0x0B32A7DE}, {0, 0},
      {49153, 0x00011555},  // the product overflows 32 bits: its low 32 bits
      {-1, 0xFFFEAAAB}};
  for (const auto& [freq, word] : words) EXPECT_EQ(rda5815_freq_word(freq), word) << freq;
  const std::pair<int32_t, uint8_t> filters[] = {
      {0, 0x46},  {3, 0x46},  {4, 0x46},  {20, 0x51}, {30, 0x58},       {40, 0x5F},
      {41, 0x5F}, {45, 0x62}, {46, 0x5F}, {-1, 0x5F}, {INT32_MIN, 0x46}};
  for (const auto& [bw, byte] : filters) EXPECT_EQ(rda5815_filter_byte(bw), byte) << bw;
}

TEST(Tuner0, SynthesizerAndFilterBytes) {
  using Synth = std::array<uint8_t, 4>;
  const std::pair<int32_t, Synth> synths[] = {
      {950, {0x23, 0x2F, 0x68, 0xD0}},  {1350, {0x32, 0x00, 0x00, 0xD0}},
      {1500, {0x38, 0x8E, 0x39, 0xD0}},  // rounded up: floor(ratio) is 55
      {1550, {0x39, 0x68, 0x4B, 0x50}}, {2150, {0x50, 0xA1, 0x2F, 0x50}},
      {906, {0x22, 0x8E, 0x39, 0xD0}},  // a double ratio would give 22 8E 38 50
  };
  for (const auto& [freq, bytes] : synths) EXPECT_EQ(tuner0_synth_bytes(freq), bytes) << freq;
  const std::pair<int32_t, uint8_t> filters[] = {{2, 0x0C},  {10, 0x3C}, {15, 0x5A},
                                                 {22, 0x84}, {0, 0x00},  {42, 0xFC},
                                                 {43, 0x02}, {-1, 0xFA}, {INT32_MAX, 0xB8}};
  for (const auto& [half_bw, byte] : filters) EXPECT_EQ(tuner0_filter_byte(half_bw), byte);
}

// Runs tuner_set in a fresh directory holding an older debug log; gives the result and the log.
std::pair<RunResult, std::string> tuner_set(TestPlatform& p, std::vector<std::string> args) {
  std::pair<RunResult, std::string> r;
  in_temp_dir([&](const std::string& dir) {
    write_file(dir, "qv_debug_file", "an older log\n");
    r = {run_cli(p, std::move(args)), read_file(dir + "/qv_debug_file")};
  });
  return r;
}

const std::string kBegin =
    std::string(28, '-') + "tuner_set begining!" + std::string(43, '-') + "\n";
const std::string kEnd = std::string(28, '-') + "tuner_set ends!" + std::string(43, '-') + "\n";

// A run of tuner_set: the line, the status, the debug log (what was written before a refusal
// stays), calls that must be among the run's, and how many there were (nothing is sent after a
// refusal). The whole sequences of the drivers: tests/golden.
TEST(TunerSet, LinesLogsAndCalls) {
  const std::string ok = "error=ok,return=0";
  const std::string init_ends = "rda5815_init ends\n";
  using Id = std::vector<uint8_t>;
  const Id repeated = {0x00, 0x00, 0x36, 0x31}, direct = {0x10, 0x01, 0x36, 0x31};
  const Id absent = {0x00, 0x00, 0x36, 0x30};
  const std::string no_chip = "error=chip not connected, failed,return=1";
  const std::tuple<bool, std::string, Id, int, std::string, std::string, const char*, size_t>
      cases[] = {
          // on the server (tuner channel 3), tuner type, identity (10 ..: wired directly),
          // the refused transfer (from 1; 0: none), the line, the log after line 2, calls among
          // those made, how many were made
          // The tuner's speed on its own channel, each byte a write to the tuner on the
          // demodulator's channel after a repeater opening: 4 + (167 + 9) * 3 + 2 + 3 + 1 calls.
          {true, "1", repeated, 0, ok, init_ends + "rda5815_set ends\n" + kEnd,
           "seti2cspeed(3,100); WriteregMulti(0,208,0x2D,1,[01]); WriteregMulti(0,192,0x04,1,[04])",
           538},
          // 0x33 gets bit 1 set, the other bits as read; the filter byte is for 31 / 2 = 15.
          // 2 open, identity, 6 start-up rows and 3 waits, 0x33 read and written, 6 setting rows
          // and 5 waits, close.
          {false, "0", direct, 0, ok, kEnd, "StreamI2C(0,[D0 33 F2],0); StreamI2C(0,[C0 05 5A],0)",
           26},
          {false, "1", absent, 0, no_chip, "", "", 4},
          {false, "2", repeated, 0, ok, kEnd, "", 4},
          // transfers: 1 identity, 2..223 the start-up rows (repeater opening, row), 224/225 0x33;
          // delay(1) before the start-up, delay(10) after it
          {false, "1", repeated, 50, kFail, "", "", 2 + 50 + 1},
          {false, "1", repeated, 225, kFail, init_ends, "", 2 + 225 + 2},
          {false, "0", repeated, 4, kFail, "", "", 2 + 4 + 1},
      };
  for (const auto& [server, type, identity, fail_at, out, log_tail, sends, calls] : cases) {
    TestPlatform p;
    p.set(0x6C, identity);
    p.set(0x33, {0xF0});
    p.fail_at = fail_at;
    std::vector<std::string> args = {"100", "208",       server ? "3" : "0", "192", type, "1550",
                                     "31",  "tuner_set", server ? "1" : "0"};
    if (server) args.insert(args.begin(), {"127.0.0.1", "5000", "0"});
    const auto [r, log] = tuner_set(p, args);
    SCOPED_TRACE(type + "/" + std::to_string(fail_at));
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.status, fail_at != 0 ? -1 : 0);
    EXPECT_EQ(log, kBegin + "tuner_type=" + type + ",freq=1550,bw=31\n" + log_tail);
    for (const std::string& call : split(sends)) {
      EXPECT_NE(std::find(p.calls.begin(), p.calls.end(), call), p.calls.end()) << call;
    }
    EXPECT_EQ(p.calls.size(), calls);
  }
}

}  // namespace
}  // namespace demodctl::testing
