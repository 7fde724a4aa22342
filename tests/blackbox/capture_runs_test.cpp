// ad_smp and fft_print run by the real demodctl on the simulated board: what the capture mode
// argument selects, where the completion wait ends, and the sample file after a failure (a sync
// that fails before the rename, a data port read refused in the middle of the fetch): the older
// file stays as it was and no temporary file is left.
#include <gtest/gtest.h>

#include "support/board_run.h"

namespace demodctl::testing {
namespace {

const std::string kOk = "error=ok,return=0";
const std::string kOlder = "an older capture\n";

struct CaptureCase {
  const char* what;
  Via via;
  const char* faults;  // the scenario's "faults"
  std::vector<std::string> own;
  const char* command;
  bool sync_fails;
  std::string out;
  std::string in_trace;  // lines the compact trace holds
  char file;             // qv_ad_smp afterwards: 'o' the older one, '0' / '1' as after mode 0 / 1
};

const CaptureCase kCases[] = {
    // Only 1 selects the 8-bit format (0x2F = 0x7C); the value is the text's leading integer.
    {"mode 2", Via::usb, "{}", {"2"}, "ad_smp", false, kOk, "w D0 2F 30\n", '0'},
    {"mode -1", Via::usb, "{}", {"-1"}, "ad_smp", false, kOk, "w D0 2F 30\n", '0'},
    {"mode 257", Via::usb, "{}", {"257"}, "ad_smp", false, kOk, "w D0 2F 30\n", '0'},
    {"mode x", Via::usb, "{}", {"x"}, "ad_smp", false, kOk, "w D0 2F 30\n", '0'},
    {"no mode", Via::usb, "{}", {}, "ad_smp", false, kOk, "w D0 2F 30\n", '0'},
    {"mode 1x", Via::usb, "{}", {"1x"}, "ad_smp", false, kOk, "w D0 2F 7C\n", '1'},
    // 0xEA reads 0x00, 0x00, then exactly 0x40 (bit 5 held low): complete.
    {"complete at 0x40",
     Via::usb,
     R"({"stuck_low": [{"register": "0xEA", "mask": "0x20"}]})",
     {"0"},
     "ad_smp",
     false,
     kOk,
     "r D0 EA -> 00 x2\nr D0 EA -> 40\nw D0 ED 00 00\n",
     '0'},
    {"sync fails",
     Via::usb,
     "{}",
     {"0"},
     "ad_smp",
     true,
     "error=err file,failed,return=-1",
     "",
     'o'},
    {"sync fails",
     Via::usb,
     "{}",
     {},
     "fft_print",
     true,
     "error=err file,failed,return=-1",
     "",
     'o'},
    // The 4100th transfer is a data port read in the middle of the fetch; nothing follows it.
    {"read refused",
     Via::socket,
     R"({"fail_ops": [4100]})",
     {"0"},
     "ad_smp",
     false,
     "error=err no connection,failed,return=-1",
     "r D0 EF nack\n",
     'o'},
    {"read refused",
     Via::usb,
     R"({"fail_ops": [4100]})",
     {"0"},
     "ad_smp",
     false,
     "error=err no connection,failed,return=-1",
     "r D0 EF nack\n",
     'o'},
    {"read refused",
     Via::socket,
     R"({"fail_ops": [4100]})",
     {},
     "fft_print",
     false,
     "error=err no connection,failed,return=-1",
     "r D0 EF nack\n",
     'o'},
    {"read refused",
     Via::usb,
     R"({"fail_ops": [4100]})",
     {},
     "fft_print",
     false,
     "error=err no connection,failed,return=-1",
     "r D0 EF nack\n",
     'o'},
};

TEST(CaptureRuns, ModesCompletionAndFailures) {
  const ScratchDir dir;
  const auto scenario = [&](const std::string& faults) {
    return write_file(dir.path, "board.json", R"({"signal": {}, "faults": )" + faults + "}");
  };
  // The sample files of mode 0 and 1 on a fresh default board.
  std::string mode_file[2];
  for (const int mode : {0, 1}) {
    const ScratchDir cwd;
    run_on_board(Via::usb, scenario("{}"), {std::to_string(mode)}, "ad_smp", cwd.path);
    mode_file[mode] = read_file(cwd.path + "/qv_ad_smp");
  }
  ASSERT_NE(mode_file[0], mode_file[1]);
  for (const CaptureCase& c : kCases) {
    SCOPED_TRACE(std::string(c.what) + ", " + c.command + (c.via == Via::usb ? ", usb" : ""));
    const ScratchDir cwd;
    write_file(cwd.path, "qv_ad_smp", kOlder);
    std::vector<std::string> env;
    // The sanitizers' runtime would insist on coming first; the preloaded library needs none.
    if (c.sync_fails) env = {"LD_PRELOAD=" FAILING_FSYNC, "ASAN_OPTIONS=verify_asan_link_order=0"};
    const BoardRun run = run_on_board(c.via, scenario(c.faults), c.own, c.command, cwd.path, env);
    EXPECT_EQ(run.result.out, c.out);
    EXPECT_EQ(run.result.status, c.out == kOk ? 0 : 255);
    EXPECT_NE(run.trace.find(c.in_trace), std::string::npos) << run.trace;
    if (c.in_trace.ends_with("nack\n")) {
      EXPECT_TRUE(run.trace.ends_with(c.in_trace));  // nothing sent after the refusal
    }
    EXPECT_EQ(read_file(cwd.path + "/qv_ad_smp"), c.file == 'o' ? kOlder : mode_file[c.file - '0']);
    EXPECT_EQ(run_process({"/bin/ls", "-A", cwd.path}).out, "qv_ad_smp\n");
  }
}

}  // namespace
}  // namespace demodctl::testing
