// The front end: command-line numbers, print_conn, unknown names and short command lines, help
// and version.
#include <gtest/gtest.h>

#include "cli/command_table.h"
#include "cli/numbers.h"
#include "support/process.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

constexpr const char* kVersion = DEMODCTL_TEST_VERSION;

TEST(Numbers, LeadingDecimalSaturated) {
  for (const std::string& c : split("208=208; 0xD0=0; abc=0; =0; -1=-1; +5=5;  7=7; 12abc=12; -=0; "
                                    "464=464; 2147483647=2147483647; 99999999999=2147483647; "
                                    "-99999999999=-2147483648")) {  // text=value
    const size_t eq = c.rfind('=');
    EXPECT_EQ(to_int(c.substr(0, eq).c_str()), std::stoll(c.substr(eq + 1))) << '"' << c << '"';
  }
}

TEST(FrontEnd, PrintConnReportsTransport) {
  const std::pair<const char*, const char*> cases[] = {
      {"1", "error=ok,return=1"}, {"0", "error=ok,,return=0"}, {"-1", "error=ok,return=1"}};
  for (const auto& [flag, out] : cases) {
    TestPlatform p;
    const RunResult r = run_cli(p, {"print_conn", flag});
    EXPECT_EQ(r.out, out) << flag;
    EXPECT_EQ(r.status, 0);
  }
}

// An unknown name gives the byte difference from the last table name, never 0 modulo 256; a short
// command line gives 2. Neither prints anything or reaches the bus.
TEST(FrontEnd, UnknownNamesAndShortLines) {
  TestPlatform p;
  const std::pair<std::vector<std::string>, int32_t> cases[] = {
      {{"h", "1", "0", "100", "208", "On_line", "1"}, 't' - 'O'},
      {{"h", "1", "0", "100", "208", "on_line ", "1"}, 't' - 'o'},
      {{"abc", "0"}, 't' - 'a'},
      {{"tuner_set" + std::string(256, 'x'), "1"}, -'x'},
      {{"tuner_se", "1"}, 't'},
      {{"\xff", "1"}, 't' - 0xFF},  // bytes compare unsigned
      {{}, 2},
      {{"on_line", "1"}, 2},
      {{"h", "p", "on_line", "1"}, 2},
  };
  for (const auto& [args, status] : cases) {
    const RunResult r = run_cli(p, args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, status) << args.size();
  }
  EXPECT_TRUE(p.calls.empty());
}

// A command line one position short of what the command reads, on either transport: the usage
// line on standard error, 2, nothing on standard output and nothing on the bus. ad_smp's mode is
// the one position that may be left out.
TEST(FrontEnd, EveryPositionReadMustBeThere) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      // the command line, it runs
      {{"100", "on_line", "0"}, false},
      {{"127.0.0.1", "5000", "0", "100", "on_line", "1"}, false},
      {{"100", "ad_smp", "0"}, false},
      {{"127.0.0.1", "5000", "0", "100", "ad_smp", "1"}, false},
      {{"100", "208", "-", "192", "1", "1550", "tuner_set", "0"}, false},
      {{"127.0.0.1", "5000", "0", "100", "208", "0", "192", "1", "1550", "tuner_set", "1"}, false},
      {{"100", "208", "ad_smp", "0"}, true},
      {{"127.0.0.1", "5000", "0", "100", "208", "ad_smp", "1"}, true},
      {{"100", "208", "-", "192", "1", "1550", "36", "tuner_set", "0"}, true},
  };
  in_temp_dir([&](const std::string&) {  // tuner_set writes its debug log there
    for (const auto& [args, runs] : cases) {
      TestPlatform p;
      ::testing::internal::CaptureStderr();
      const RunResult r = run_cli(p, args);
      const std::string err = ::testing::internal::GetCapturedStderr();
      SCOPED_TRACE(args.size());
      EXPECT_EQ(r.status, runs ? 0 : 2);
      EXPECT_EQ(r.out.empty(), !runs);
      EXPECT_EQ(p.calls.empty(), !runs);
      EXPECT_EQ(err.starts_with("usage: demodctl "), !runs) << err;
    }
  });
}

// Both programs answer -h, --help, -V and --version on standard output with 0; demodctl's help
// names every command of its table.
TEST(FrontEnd, HelpAndVersionOfBothPrograms) {
  for (const char* program : {DEMODCTL_BIN, REGSERVER_BIN}) {
    const std::string name = std::string(program).substr(std::string(program).rfind('/') + 1);
    for (const char* flag : {"-V", "--version"}) {
      const ProcResult r = run_process({program, flag});
      EXPECT_EQ(r.status, 0) << name << flag;
      EXPECT_EQ(r.out, name + " " + kVersion + "\n") << flag;
    }
    for (const char* flag : {"-h", "--help"}) {
      const ProcResult r = run_process({program, flag});
      EXPECT_EQ(r.status, 0) << name << flag;
      EXPECT_TRUE(r.err.empty()) << r.err;
      if (name != "demodctl") continue;
      for (const Command& c : command_table()) {
        EXPECT_NE(r.out.find(std::string(" ") + c.name), std::string::npos) << c.name;
      }
    }
  }
}

}  // namespace
}  // namespace demodctl::testing
