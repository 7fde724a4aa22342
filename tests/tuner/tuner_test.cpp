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

// Type 0 on the bridge with a directly wired tuner (identity 10 01 36 31).
TEST(TunerSet, Type0DirectOnTheBridge) {
  TestPlatform p;
  p.set(0x6C, {0x10, 0x01, 0x36, 0x31});
  p.set(0x33, {0xF0});
  const auto [r, log] =
      tuner_set(p, {"100", "208", "9", "192", "0", "1550", "31", "tuner_set", "0"});
  EXPECT_EQ(r.out, "error=ok,return=0");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(log, kBegin + "tuner_type=0,freq=1550,bw=31\n" + kEnd);
  // 0x33 gets bit 1 set, the other bits as read; the filter byte is for 31 / 2 = 15; no
  // repeater opening (the whole sequence: tests/golden).
  for (const char* call : {"StreamI2C(0,[D0 33 F2],0)", "StreamI2C(0,[C0 05 5A],0)"}) {
    EXPECT_EQ(std::count(p.calls.begin(), p.calls.end(), call), 1) << call;
  }
  EXPECT_EQ(std::count(p.calls.begin(), p.calls.end(), "StreamI2C(0,[D0 2D 01],0)"), 0);
}

// RDA5815 through the repeater on the register server: every tuner byte is its own write to the
// tuner's address on the demodulator's channel, after a repeater opening, followed by 2 ms.
TEST(TunerSet, Rda5815ThroughTheRepeaterOnTheServer) {
  TestPlatform p;
  p.set(0x6C, {0x00, 0x00, 0x36, 0x31});
  const auto [r, log] = tuner_set(
      p, {"127.0.0.1", "5000", "0", "100", "208", "3", "192", "1", "950", "40", "tuner_set", "1"});
  EXPECT_EQ(r.out, "error=ok,return=0");
  EXPECT_EQ(log,
            kBegin + "tuner_type=1,freq=950,bw=40\nrda5815_init ends\nrda5815_set ends\n" + kEnd);
  const Calls head = split(
      "InitSock(127.0.0.1,5000); seti2cspeed(0,100); seti2cspeed(3,100); "
      "ReadregMulti(0,208,0x6C,1,4); delay(1); WriteregMulti(0,208,0x2D,1,[01]); "
      "WriteregMulti(0,192,0x04,1,[04]); delay(2)");
  // The setting's last seven bytes (0x07..0x0B, 0x04, 0x2B), then 5 ms and the close.
  Calls tail;
  for (const char* row : {"07,1,[04]", "08,1,[F2]", "09,1,[A9]", "0A,1,[6E]", "0B,1,[5F]",
                          "04,1,[C3]", "2B,1,[97]"}) {
    tail.insert(tail.end(), {"WriteregMulti(0,208,0x2D,1,[01])",
                             "WriteregMulti(0,192,0x" + std::string(row) + ")", "delay(2)"});
  }
  tail.insert(tail.end(), {"delay(5)", "DeinitSock()"});
  // 167 start-up bytes and 9 setting bytes, each three calls; then 0x33, the waits, open, close.
  ASSERT_EQ(p.calls.size(), 4 + (167 + 9) * 3 + 2 + 3 + 1);
  EXPECT_EQ(Calls(p.calls.begin(), p.calls.begin() + 8), head);
  EXPECT_EQ(Calls(p.calls.end() - static_cast<long>(tail.size()), p.calls.end()), tail);
}

// The ends of a run: chip absent, no driver, a refused transfer in each driver. The log keeps what
// was written before; nothing is sent after a refusal.
TEST(TunerSet, AbsentChipOtherTypesAndRefusals) {
  const std::tuple<std::string, uint8_t, int, std::string, std::string, size_t> cases[] = {
      // tuner type, identity byte 3, the refused transfer, the line, the log after line 2, calls
      {"1", 0x30, 0, "error=chip not connected, failed,return=1", "", 4},
      {"2", 0x31, 0, "error=ok,return=0", kEnd, 4},
      // transfers: 1 identity, 2..223 the start-up rows (repeater opening, row), 224/225 0x33
      {"1", 0x31, 50, kFail, "", 2 + 50 + 1},
      {"1", 0x31, 225, kFail, "rda5815_init ends\n", 2 + 225 + 2},  // with delay(1), delay(10)
      {"0", 0x31, 4, kFail, "", 2 + 4 + 1},
  };
  for (const auto& [type, id3, fail_at, out, log_tail, calls] : cases) {
    TestPlatform p;
    p.set(0x6C, {0, 0, 0x36, id3});
    p.fail_at = fail_at;
    const auto [r, log] =
        tuner_set(p, {"100", "208", "0", "192", type, "1550", "30", "tuner_set", "0"});
    EXPECT_EQ(r.out, out) << type << "/" << fail_at;
    EXPECT_EQ(r.status, fail_at != 0 ? -1 : 0);
    EXPECT_EQ(log, kBegin + "tuner_type=" + type + ",freq=1550,bw=30\n" + log_tail);
    EXPECT_EQ(p.calls.size(), calls) << type << "/" << fail_at;
  }
}

}  // namespace
}  // namespace demodctl::testing
