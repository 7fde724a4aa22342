// ad_smp run by the real demodctl on the simulated board: what the mode argument selects, where the
// completion wait ends, and the sample file after a failed sync or a fetch refused by the server
// (the run ends there, 255): the older file stays, no temporary file is left. fft_print writes
// through the same sample file; its failures: Capture.FailuresKeepTheOlderFile.
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/board_run.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

const std::string kOk = "error=ok,return=0";
const std::string kFileError = "error=err file,failed,return=-1";
const std::string kNoConnection = "error=err no connection,failed,return=-1";
const std::string kOlder = "an older capture\n";
// The 4100th transfer is a data port read in the middle of the fetch.
const char* kRefused = R"({"fail_ops": [4100]})";

struct CaptureCase {
  Via via;
  const char* faults;             // the scenario's "faults"
  std::vector<std::string> args;  // own arguments, command
  bool sync_fails;
  const std::string& out;
  std::string trace;  // lines the compact trace holds (at its end after a refusal)
};

const CaptureCase kCases[] = {
    // Only 1 selects the 8-bit format (0x2F = 0x7C), not 257; the text's leading integer counts.
    {Via::usb, "{}", {"257", "ad_smp"}, false, kOk, "w D0 2F 30\n"},
    {Via::usb, "{}", {"ad_smp"}, false, kOk, "w D0 2F 30\n"},
    {Via::usb, "{}", {"1x", "ad_smp"}, false, kOk, "w D0 2F 7C\n"},
    // 0xEA reads 0x00, 0x00, then exactly 0x40 (bit 5 held low): complete.
    {Via::usb,
     R"({"stuck_low": [{"register": "0xEA", "mask": "0x20"}]})",
     {"0", "ad_smp"},
     false,
     kOk,
     "r D0 EA -> 00 x2\nr D0 EA -> 40\nw D0 ED 00 00\n"},
    {Via::usb, "{}", {"0", "ad_smp"}, true, kFileError, ""},
    {Via::socket, kRefused, {"0", "ad_smp"}, false, kNoConnection, "r D0 EF nack\n"},
};

TEST(CaptureRuns, ModesCompletionAndFailures) {
  const TempDir dir;
  const auto scenario = [&](const std::string& faults) {
    return write_file(dir.path(), "board.json", R"({"signal": {}, "faults": )" + faults + "}");
  };
  for (const CaptureCase& c : kCases) {
    SCOPED_TRACE(c.args.front() + " " + c.faults + (c.sync_fails ? " sync fails" : ""));
    const TempDir cwd;
    write_file(cwd.path(), "qv_ad_smp", kOlder);
    std::vector<std::string> env;
    // The sanitizers' runtime would insist on coming first; the preloaded library needs none.
    if (c.sync_fails) {
      const char* asan = std::getenv("ASAN_OPTIONS");
      env = {"LD_PRELOAD=" FAILING_FSYNC, std::string("ASAN_OPTIONS=") +
                                              (asan != nullptr ? asan : "") +
                                              ":verify_asan_link_order=0"};
    }
    const std::vector<std::string> own(c.args.begin(), c.args.end() - 1);
    const BoardRun run =
        run_on_board(c.via, scenario(c.faults), own, c.args.back(), cwd.path(), env);
    EXPECT_EQ(run.result.out, c.out);
    EXPECT_EQ(run.result.status, c.out == kOk ? 0 : 255);
    EXPECT_NE(run.trace.find(c.trace), std::string::npos) << run.trace;
    EXPECT_TRUE(c.out != kNoConnection || run.trace.ends_with(c.trace));  // nothing sent after
    const std::string file = read_file(cwd.path() + "/qv_ad_smp");
    // A new sample file after a good run (its samples: Capture tests), else the older one.
    EXPECT_TRUE(c.out == kOk ? file.starts_with("Column:2\n") : file == kOlder)
        << file.substr(0, 40);
    EXPECT_EQ(run_process({"/bin/ls", "-A", cwd.path()}).out, "qv_ad_smp\n");
  }
}

}  // namespace
}  // namespace demodctl::testing
