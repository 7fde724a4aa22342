// Golden bus traces: every command that uses the bus, run by the real demodctl on the simulated
// board over both transports, must make exactly the bus operations kept in
// tests/golden/CASE.TRANSPORT.txt (the command line and its result, then one line per operation,
// as support/board_run.h writes them). The files were checked by hand against the register tables
// of the commands; a changed byte in any table, a lost or added access fails here.
//
// After an intended change of a command's bus operations, rewrite the files and review the diff:
//   UPDATE_GOLDEN=1 ctest --test-dir build -R GoldenTraces
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

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

}  // namespace
}  // namespace demodctl::testing
