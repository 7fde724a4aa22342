// demodreg as a bring-up engineer runs it: on the in-process simulated board and on regserver's,
// exact output and status; the register server's trace shows what reached the bus.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/process.h"
#include "support/temp_dir.h"

namespace demodctl::testing {
namespace {

ProcResult demodreg(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {DEMODREG_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv);
}

std::size_t trace_ops(const std::string& trace, const std::string& op) {
  std::size_t n = 0;
  for (std::size_t at = trace.find("\"op\":\"" + op + "\""); at != std::string::npos;
       at = trace.find("\"op\":\"" + op + "\"", at + 1)) {
    ++n;
  }
  return n;
}

TEST(Demodreg, ReadsWritesAndRefusesOnBothTransports) {
  ServerProcess server({"--sim", "--quiet"});
  ServerProcess read_only({"--sim", "--read-only", "--quiet"});
  ASSERT_TRUE(server.ready() && read_only.ready());
  const std::string net = "127.0.0.1:" + server.port_text() + "/0@0xD0";
  const std::string ro = "127.0.0.1:" + read_only.port_text() + "/0@208";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  // clang-format off
  const Case cases[] = {
      {{"sim", "get", "lock_fec"}, 0, "0x2c: 0x3f\nlock_fec = 1 (0x1)\n", ""},
      {{net, "get", "0x6c", "4"}, 0, "0x6c: 0x01 0x00 0x36 0x31\n", ""},
      {{"usb:sim@0xd0", "get", "agc_level"}, 0, "0x37: 0x34 0x06\nagc_level = 1588 (0x634)\n", ""},
      {{"sim", "--tuner", "0xC0", "get", "0", "2"}, 0, "0x00: 0x00 0x00\n", ""},
      {{"sim", "get", "0xZZ"}, 2, "",
       "demodreg: register '0xZZ' is not a number from 0 to 255 (decimal, or hex with 0x)\n"},
      {{"usb:sim@0x1D0", "get", "0"}, 2, "",
       "demodreg: board 'usb:sim@0x1D0': address '0x1D0' is not a number from 0 to 255\n"},
      {{"sim", "set", "lock_fec", "2"}, 2, "",
       "demodreg: value '2' is not a number from 0 to 1 (decimal, or hex with 0x)\n"},
      {{ro, "-y", "set", "0x2c", "1"}, 1, "",
       "demodreg: the register server is read-only (READ_ONLY): register server 127.0.0.1 port " +
       read_only.port_text() + ": WRITE 0xD0 register 0x2C on channel 0: READ_ONLY\n"},
      {{"sim", "scan"}, 0, "", ""},
      {{"sim", "scan", "--tuner"}, 0, "", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    const ProcResult r = demodreg(c.args);
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    if (c.args[1] != "scan" && c.args.back() != "--tuner") {
      EXPECT_EQ(r.out, c.out);
    } else {  // the demodulator answers at 0xD0, the tuner behind the repeater at 0xC0
      EXPECT_NE(r.out.find("\nd0: d0 -- --"), std::string::npos) << r.out;
      EXPECT_EQ(r.out.find("\nc0: c0 -- --") != std::string::npos, c.args.back() == "--tuner");
    }
  }
}

TEST(Demodreg, DumpSetDiffNamesTheChangeAndAWriteNeedsAYes) {
  const TempDir temp;
  const std::string trace = temp.path() + "/trace.jsonl";
  ServerProcess server({"--sim", "--quiet", "--trace", trace});
  ASSERT_TRUE(server.ready());
  const std::string net = "127.0.0.1:" + server.port_text() + "/0@0xD0";
  ASSERT_EQ(demodreg({net, "dump"}).status, 0);
  EXPECT_EQ(trace_ops(read_file(trace), "read"), 1U);  // the whole map in one request
  // The simulated AGC shows ready after three reads of its level, as a real one settles.
  for (int settle = 0; settle < 2; ++settle) ASSERT_EQ(demodreg({net, "dump"}).status, 0);
  const ProcResult dump = demodreg({net, "dump", "--json"});
  const std::string golden = write_file(temp.path(), "golden.json", dump.out);
  const ProcResult refused = demodreg({net, "set", "lock_fec", "0"});  // no terminal, no -y
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(demodreg({net, "diff", golden}).status, 0);
  EXPECT_EQ(trace_ops(read_file(trace), "write"), 0U);
  EXPECT_EQ(demodreg({net, "-y", "set", "lock_fec", "0"}).status, 0);
  const ProcResult diff = demodreg({net, "diff", golden});
  EXPECT_EQ(diff.status, 1);
  EXPECT_EQ(diff.out, "0x2c: 0x3f -> 0x1f\n  lock_status: 63 -> 31\n  lock_fec: 1 -> 0\n");
  const ProcResult now = demodreg({net, "dump", "--json"});
  const std::string changed = write_file(temp.path(), "now.json", now.out);
  EXPECT_EQ(demodreg({"diff", golden, changed}).out, diff.out);
}

TEST(Demodreg, WatchEndsAtOnceOnSigterm) {
  BackgroundProcess watch({DEMODREG_BIN, "sim", "watch", "lock_fec", "--interval", "3600000"});
  ASSERT_TRUE(watch.wait_for(" lock_fec 1\n"));
  EXPECT_EQ(watch.stop(SIGTERM), 0);
}

}  // namespace
}  // namespace demodctl::testing
