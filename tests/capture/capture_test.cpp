// Sample decoding, the capture's exact bus sequence, the sample file and the listing, and every
// way a capture can fail without losing an earlier sample file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "capture/samples.h"
#include "support/process.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

TEST(Samples, WordsDecodeToPairs) {
  struct Case {
    std::array<uint8_t, 4> word;
    SampleFormat format;
    SamplePair pair;
  } cases[] = {
      {{0x00, 0x00, 0x00, 0x00}, SampleFormat::nine_bit, {-256, -256}},
      {{0xFF, 0xFF, 0x03, 0x00}, SampleFormat::nine_bit, {255, 255}},
      {{0x00, 0x01, 0x00, 0x00}, SampleFormat::nine_bit, {0, -256}},
      {{0x00, 0x03, 0x02, 0x00}, SampleFormat::nine_bit, {0, 1}},
      {{0x34, 0x12, 0xFF, 0xFF}, SampleFormat::nine_bit, {-204, 137}},  // b2 bits 7..2, b3 unused
      {{0xF0, 0x7F, 0x08, 0x00}, SampleFormat::eight_bit, {-121, -1}},
      {{0x0F, 0x80, 0x07, 0xFF}, SampleFormat::eight_bit, {120, 0}},  // b0 bits 3..0 unused
      {{0xFF, 0xFF, 0xFF, 0x00}, SampleFormat::eight_bit, {-1, -1}},
      {{0x00, 0x08, 0xF8, 0x00}, SampleFormat::eight_bit, {-128, -128}},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_word(c.word, c.format), c.pair);
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> out;
  for (size_t start = 0, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    out.push_back(text.substr(start, end - start));
  }
  return out;
}

// Runs a command line in a fresh directory that holds an older sample file (or a directory of
// that name, or that is removed before the run); gives the result, the sample file afterwards and
// the names in the directory.
enum class Before { older_file, directory_in_place, removed_dir };
struct CaptureRun {
  RunResult run;
  std::string file;
  std::vector<std::string> names;
};
const std::string kOlder = "Column:2\nolder\n";

CaptureRun capture(TestPlatform& p, std::vector<std::string> args,
                   Before setup = Before::older_file) {
  char old[4096];
  const std::string dir = make_temp_dir();
  if (setup == Before::directory_in_place) {
    mkdir((dir + "/qv_ad_smp").c_str(), 0755);
    write_file(dir + "/qv_ad_smp", "inside", "");
  } else {
    write_file(dir, "qv_ad_smp", kOlder);
  }
  EXPECT_NE(getcwd(old, sizeof old), nullptr);
  EXPECT_EQ(chdir(dir.c_str()), 0);
  if (setup == Before::removed_dir) {  // nothing can be created in a removed directory
    unlink("qv_ad_smp");
    rmdir(dir.c_str());
  }
  CaptureRun r{run_cli(p, std::move(args)), read_file(dir + "/qv_ad_smp"), {}};
  EXPECT_EQ(chdir(old), 0);
  r.names = split(run_process({"/bin/ls", "-A", dir}).out);
  return r;
}

// The ready flag comes on the second poll, the capture completes (0x80 alone) on the second.
void script_waits(TestPlatform& p, int address) {
  p.script[{address, 0x37}] = {0xFF, 0xFF};  // the first byte never counts
  p.script[{address, 0x38}] = {0x7F, 0x80};
  p.script[{address, 0xEA}] = {0x3F, 0x80};
}

TEST(AdSmp, ExactSequenceAndFileOnTheServer) {
  TestPlatform p;
  p.memory.set(208, 0x6C, {0x00, 0x00, 0x36, 0x31});
  script_waits(p, 208);
  // Two words: (-121, -1) and (120, 0) in the 8-bit format, then zeros.
  p.script[{208, 0xEF}] = {0xF0, 0x7F, 0x08, 0x00, 0x0F, 0x80, 0x07, 0xFF};
  const CaptureRun r = capture(p, {"127.0.0.1", "5000", "0", "100", "208", "1", "ad_smp", "1"});
  EXPECT_EQ(r.run.out, "error=ok,return=0");
  EXPECT_EQ(r.run.status, 0);
  std::string want_file = "Column:2\n-121,-1\n120,0\n";
  for (int n = 2; n < 2048; ++n) want_file += "0,0\n";
  EXPECT_EQ(r.file, want_file);
  EXPECT_EQ(r.names, std::vector<std::string>{"qv_ad_smp"});
  Calls want = {"InitSock(127.0.0.1,5000)",
                "seti2cspeed(0,100)",
                "ReadregMulti(0,208,0x6C,1,4)",
                "WriteregMulti(0,208,0xE0,1,[00 00 01 00 00])",
                "WriteregMulti(0,208,0xE5,1,[00 00 01])",
                "WriteregMulti(0,208,0xEB,1,[00 00])",
                "WriteregMulti(0,208,0xE8,1,[00 08])",
                "WriteregMulti(0,208,0x2F,1,[7C])"};
  for (int i = 0; i < 16; ++i) {
    char row[48];
    std::snprintf(row, sizeof row, "WriteregMulti(0,208,0x%02X,1,[%02X])", 0xF0 + i, i);
    want.push_back(row);
  }
  want.insert(want.end(),
              {"ReadregMulti(0,208,0x37,1,2)", "delay(5)", "ReadregMulti(0,208,0x37,1,2)",
               "WriteregMulti(0,208,0xEA,1,[00])", "delay(5)", "WriteregMulti(0,208,0xEA,1,[20])",
               "delay(5)", "ReadregMulti(0,208,0xEA,1,1)", "delay(5)",
               "ReadregMulti(0,208,0xEA,1,1)", "WriteregMulti(0,208,0xED,1,[00 00])",
               "ReadregPeriod(0,208,0xEF,1,1,8192,100)", "DeinitSock()"});
  EXPECT_EQ(p.calls, want);
}

// fft_print over the bridge: 9-bit format whatever precedes the name, no identity read, 8192
// one-byte reads, the file completed before the head and the items are printed.
TEST(FftPrint, ListingEqualsTheFile) {
  TestPlatform p;
  script_waits(p, 0xD0);
  p.script[{0xD0, 0xEF}] = {0x34, 0x12, 0xFF, 0x00, 0x00, 0x03, 0x02, 0x00};
  const CaptureRun r = capture(p, {"100", "208", "fft_print", "0"});
  std::string items = "{-204,137}#{0,1}#";
  std::string lines = "Column:2\n-204,137\n0,1\n";
  for (int n = 2; n < 2048; ++n) {
    items += "{-256,-256}#";
    lines += "-256,-256\n";
  }
  EXPECT_EQ(r.run.out, "error=ok,return=" + items);
  EXPECT_EQ(r.file, lines);
  EXPECT_EQ(std::count(p.calls.begin(), p.calls.end(), "StreamI2C(0,[D0 EF],1)"), 8192);
  EXPECT_EQ(p.calls.at(2), "StreamI2C(0,[D0 E0 00 00 01 00 00],0)");
  EXPECT_NE(std::find(p.calls.begin(), p.calls.end(), "StreamI2C(0,[D0 2F 30],0)"), p.calls.end());
}

// Every failure leaves the older sample file as it was and no temporary file behind.
TEST(Capture, FailuresKeepTheOlderFile) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int fail_reg;
    bool flag_rises;
    Before setup;
    std::string out;
  } cases[] = {
      {"chip absent",
       {"100", "208", "0", "ad_smp", "0"},
       0x6C,
       true,
       Before::older_file,
       "error=chip not connected, failed,return=1"},
      {"fetch refused",
       {"100", "208", "0", "ad_smp", "0"},
       0xEF,
       true,
       Before::older_file,
       "error=err no connection,failed,return=-1"},
      {"ready flag never rises",
       {"100", "208", "fft_print", "0"},
       -1,
       false,
       Before::older_file,
       "error=err timeout,failed,return=-1"},
      {"a directory in its place",
       {"100", "208", "fft_print", "0"},
       -1,
       true,
       Before::directory_in_place,
       "error=err file,failed,return=-1"},
      {"file cannot be created",
       {"100", "208", "ad_smp", "0"},
       -1,
       true,
       Before::removed_dir,
       "error=err file,failed,return=-1"},
  };
  for (const auto& c : cases) {
    TestPlatform p;
    p.memory.set(0xD0, 0x6C, {0, 0, 0x36, 0x31});
    p.fail_reg = c.fail_reg;
    if (c.flag_rises) script_waits(p, 0xD0);
    const CaptureRun r = capture(p, c.args, c.setup);
    EXPECT_EQ(r.run.out, c.out) << c.name;
    EXPECT_EQ(r.run.status, c.out[6] == 'c' ? 0 : -1) << c.name;
    if (c.setup == Before::older_file) {
      EXPECT_EQ(r.file, kOlder) << c.name;
    }
    if (c.setup != Before::removed_dir) {
      EXPECT_EQ(r.names, std::vector<std::string>{"qv_ad_smp"}) << c.name;
    }
  }
}

}  // namespace
}  // namespace demodctl::testing
