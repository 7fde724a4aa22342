// Golden bus traces: every command that uses the bus, run by the real demodctl on the simulated
// board over both transports, must make exactly the bus operations kept in
// tests/golden/CASE.TRANSPORT.txt (the command line and its result, then one line per operation,
// as support/board_run.h writes them). The files were checked by hand against the register tables
// of the commands; a changed byte in any table, a lost or added access fails here.
//
// After an intended change of a command's bus operations, rewrite the files and review the diff:
//   UPDATE_GOLDEN=1 ctest --test-dir build -R GoldenTraces
//
// Then ad_smp on the same boards (CaptureRuns): what the mode argument selects, where the
// completion wait ends, and the sample file after a failed sync or a fetch refused by the server
// (the run ends there, 255): the older file stays, no temporary file is left. fft_print writes
// through the same sample file; its failures: Capture.FailuresKeepTheOlderFile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <tuple>

#include "support/board_run.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

struct GoldenCase {
  const char* name;      // the file's name before the transport
  const char* scenario;  // under scenarios/
  std::vector<std::string> own;
  const char* command;
};

// The commands without arguments of their own, each on the locked DVB-S2 board, named after itself.
const char* const kPlainCommands[] = {"on_line",     "agc_ok",     "cbs_ok",   "tr_ok",
                                      "sync_ok",     "cr_ok",      "fec_ok",   "chip_init",
                                      "hot_rst",     "sig_str",    "cn_read",  "lock_time",
                                      "carrier_err", "symbol_err", "fft_print"};

// The scenarios lead each command down its longest path: a locked signal of each standard, the
// tuners behind the repeater and wired directly, both sample formats.
const GoldenCase kCases[] = {
    {"dvb_standard.dvbs2", "dvbs2_locked", {}, "dvb_standard"},
    {"dvb_standard.dvbs", "dvbs_locked", {}, "dvb_standard"},
    {"dvb_standard.directv", "directv_locked", {}, "dvb_standard"},
    {"ber_calc.dvbs2", "dvbs2_locked", {}, "ber_calc"},
    {"ber_calc.directv", "directv_locked", {}, "ber_calc"},
    {"ad_smp.8bit", "dvbs2_locked", {"1"}, "ad_smp"},
    {"ad_smp.9bit", "dvbs2_locked", {"0"}, "ad_smp"},
    // tuner channel, address, type, MHz, bandwidth (the channel is a place holder on the bridge)
    {"tuner_set.rda5815", "transponders", {"0", "192", "1", "1550", "36"}, "tuner_set"},
    {"tuner_set.type0", "transponders", {"0", "198", "0", "1210", "36"}, "tuner_set"},
    {"tuner_set.direct", "direct_tuner", {"0", "192", "1", "950", "30"}, "tuner_set"},
};

// The first two lines of a golden file: what was run and what it printed (a long output shortened).
std::string header(const GoldenCase& c, const std::string& via, const ProcResult& r) {
  std::string line = "# " + via + ", scenarios/" + c.scenario + ".json:";
  for (const std::string& arg : c.own) line += " " + arg;
  std::string out = r.out;
  if (out.size() > 80) {
    out = out.substr(0, 40) + "... (" + std::to_string(r.out.size()) +
          " bytes, fnv1a=" + fnv1a_hex(r.out) + ")";
  }
  return line + " " + c.command + "\n# -> " + out + " (exit " + std::to_string(r.status) + ")\n";
}

TEST(GoldenTraces, EveryCommandOnBothTransports) {
  const bool update = std::getenv("UPDATE_GOLDEN") != nullptr;
  std::vector<GoldenCase> cases(std::begin(kCases), std::end(kCases));
  for (const char* command : kPlainCommands)
    cases.push_back({command, "dvbs2_locked", {}, command});
  for (const GoldenCase& c : cases) {
    for (const auto& [via, name] : {std::pair{Via::socket, "socket"}, std::pair{Via::usb, "usb"}}) {
      const TempDir cwd;  // for the files the commands write
      const BoardRun run = run_on_board(via, std::string(SCENARIO_DIR) + "/" + c.scenario + ".json",
                                        c.own, c.command, cwd.path());
      EXPECT_EQ(run.result.err, "") << c.name << " " << name;
      const std::string text = header(c, name, run.result) + run.trace;
      const std::string path = std::string(GOLDEN_DIR) + "/" + c.name + "." + name + ".txt";
      if (update) {
        EXPECT_TRUE(std::ofstream(path, std::ios::binary) << text) << path;
      } else {
        EXPECT_EQ(text, read_file(path)) << path;
      }
    }
  }
}

const std::string kOk = "error=ok,return=0";
const std::string kNoConnection = "error=err no connection,failed,return=-1";
const std::string kOlder = "an older capture\n";

// The transport, the scenario's "faults", own arguments and command, fsync fails, the line, lines
// the compact trace holds (at its end after a refusal).
const std::tuple<Via, const char*, std::vector<std::string>, bool, std::string, std::string>
    kCaptureCases[] = {
        // Only 1 selects the 8-bit format (0x2F = 0x7C), not 257; the leading integer counts.
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
        {Via::usb, "{}", {"0", "ad_smp"}, true, "error=err file,failed,return=-1", ""},
        // The 4100th transfer is a data port read in the middle of the fetch.
        {Via::socket,
         R"({"fail_ops": [4100]})",
         {"0", "ad_smp"},
         false,
         kNoConnection,
         "r D0 EF nack\n"},
};

TEST(CaptureRuns, ModesCompletionAndFailures) {
  const TempDir dir;
  const auto scenario = [&](const std::string& faults) {
    return write_file(dir.path(), "board.json", R"({"signal": {}, "faults": )" + faults + "}");
  };
  for (const auto& [via, faults, args, sync_fails, out, trace] : kCaptureCases) {
    SCOPED_TRACE(args.front() + " " + faults + (sync_fails ? " sync fails" : ""));
    const TempDir cwd;
    write_file(cwd.path(), "qv_ad_smp", kOlder);
    std::vector<std::string> env;
    // The sanitizers' runtime would insist on coming first; the preloaded library needs none.
    if (sync_fails) {
      const char* asan = std::getenv("ASAN_OPTIONS");
      env = {"LD_PRELOAD=" FAILING_FSYNC, std::string("ASAN_OPTIONS=") +
                                              (asan != nullptr ? asan : "") +
                                              ":verify_asan_link_order=0"};
    }
    const std::vector<std::string> own(args.begin(), args.end() - 1);
    const BoardRun run = run_on_board(via, scenario(faults), own, args.back(), cwd.path(), env);
    EXPECT_EQ(run.result.out, out);
    EXPECT_EQ(run.result.status, out == kOk ? 0 : 255);
    EXPECT_NE(run.trace.find(trace), std::string::npos) << run.trace;
    EXPECT_TRUE(out != kNoConnection || run.trace.ends_with(trace));  // nothing sent after
    const std::string file = read_file(cwd.path() + "/qv_ad_smp");
    // A new sample file after a good run (its samples: Capture tests), else the older one.
    EXPECT_TRUE(out == kOk ? file.starts_with("Column:2\n") : file == kOlder) << file.substr(0, 40);
    EXPECT_EQ(run_process({"/bin/ls", "-A", cwd.path()}).out, "qv_ad_smp\n");
  }
}

}  // namespace
}  // namespace demodctl::testing
