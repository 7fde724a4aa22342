// Sample decoding, then the capture commands: where the waits end, the sample file and the listing,
// and every way a capture can fail without losing an earlier sample file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <tuple>

#include "capture/samples.h"
#include "support/process.h"
#include "support/recording_backends.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kAbsent = "error=chip not connected, failed,return=1";

TEST(Samples, WordsDecodeToPairs) {
  using Word = std::array<uint8_t, 4>;
  const std::tuple<Word, SampleFormat, SamplePair> cases[] = {
      {{0x00, 0x00, 0x00, 0x00}, SampleFormat::nine_bit, {-256, -256}},
      {{0xFF, 0xFF, 0x03, 0x00}, SampleFormat::nine_bit, {255, 255}},
      {{0x00, 0x01, 0x00, 0x00}, SampleFormat::nine_bit, {0, -256}},
      {{0xFF, 0xFF, 0xFF, 0x00}, SampleFormat::eight_bit, {-1, -1}},
      {{0x00, 0x08, 0xF8, 0x00}, SampleFormat::eight_bit, {-128, -128}},
  };
  for (const auto& [word, format, pair] : cases) EXPECT_EQ(decode_word(word, format), pair);
}

// The ready flag rises at the second read (0x7F, then 0x80), the completion flag at the second
// read (0x3F, then 0x80 alone) unless it never does; the bus operations of a capture: tests/golden.
void script_waits(TestPlatform& p, bool completes = true) {
  p.script[{0xD0, 0x37}] = {0xFF, 0xFF};  // the first byte never counts
  p.script[{0xD0, 0x38}] = {0x7F, 0x80};
  p.script[{0xD0, 0xEA}] = {0x3F};
  if (completes) p.script[{0xD0, 0xEA}].push_back(0x80);
}

TEST(Capture, AdSmpOnTheServerAndFftPrintOnTheBridge) {
  in_temp_dir([](const std::string& dir) {
    TestPlatform p;
    p.set(0x6C, {0x00, 0x00, 0x36, 0x31});
    script_waits(p);
    // Two words: (-121, -1) and (120, 0) in the 8-bit format (b0 bits 3..0 and b3 unused), then
    // zeros.
    p.script[{0xD0, 0xEF}] = {0xF0, 0x7F, 0x08, 0x00, 0x0F, 0x80, 0x07, 0xFF};
    EXPECT_EQ(run_cli(p, command_line(true, {"1", "ad_smp"})).out, "error=ok,return=0");
    std::string lines = "Column:2\n-121,-1\n120,0\n";
    for (int n = 2; n < 2048; ++n) lines += "0,0\n";
    EXPECT_EQ(read_file(dir + "/qv_ad_smp"), lines);

    // fft_print: 9-bit format (b2 bits 7..2 and b3 unused), no identity read; the file is completed
    // before the items are printed, and holds the same pairs.
    TestPlatform q;
    script_waits(q);
    q.script[{0xD0, 0xEF}] = {0x34, 0x12, 0xFF, 0xFF, 0x00, 0x03, 0x02, 0x00};
    std::string items = "error=ok,return={-204,137}#{0,1}#";
    lines = "Column:2\n-204,137\n0,1\n";
    for (int n = 2; n < 2048; ++n) {
      items += "{-256,-256}#";
      lines += "-256,-256\n";
    }
    EXPECT_EQ(run_cli(q, command_line(false, {"fft_print"})).out, items);
    EXPECT_EQ(read_file(dir + "/qv_ad_smp"), lines);
    EXPECT_EQ(run_process({"/bin/ls", "-A", dir}).out, "qv_ad_smp\n");
  });
}

// Every failure leaves the older sample file as it was and no temporary file behind.
TEST(Capture, FailuresKeepTheOlderFile) {
  const std::string kFile = "error=err file,failed,return=-1";
  const std::string kTimeout = "error=err timeout,failed,return=-1";
  const std::string kNoConnection = "error=err no connection,failed,return=-1";
  const std::tuple<std::vector<std::string>, int, char, char, std::string> cases[] = {
      // command, the register whose transfers fail, the flags that rise ('b': both, 'r': ready
      // only, 'n': none), the directory before ('f': an older file, 'd': a directory in its
      // place), the line
      {{"0", "ad_smp"}, 0x6C, 'b', 'f', kAbsent},
      {{"0", "ad_smp"}, 0xEF, 'b', 'f', kNoConnection},
      {{"0", "ad_smp"}, 0xE0, 'b', 'f', kNoConnection},  // the capture window
      {{"fft_print"}, -1, 'n', 'f', kTimeout},
      {{"fft_print"}, -1, 'r', 'f', kTimeout},
      {{"fft_print"}, -1, 'b', 'd', kFile},
  };
  for (const auto& [args, fail_reg, flags, setup, out] : cases) {
    TestPlatform p;
    p.set(0x6C, {0, 0, 0x36, 0x31});
    p.fail_reg = fail_reg;
    if (flags != 'n') script_waits(p, flags == 'b');
    in_temp_dir([&](const std::string& dir) {
      if (setup == 'f') write_file(dir, "qv_ad_smp", "older\n");
      if (setup == 'd') mkdir("qv_ad_smp", 0755);
      const RunResult r = run_cli(p, command_line(false, args));
      EXPECT_EQ(r.out, out) << args.back() << " " << setup;
      EXPECT_EQ(r.status, out == kAbsent ? 0 : -1);
      EXPECT_EQ(read_file(dir + "/qv_ad_smp"), setup == 'f' ? "older\n" : "");
      EXPECT_EQ(run_process({"/bin/ls", "-A", dir}).out, "qv_ad_smp\n");
    });
  }
}

}  // namespace
}  // namespace demodctl::testing
