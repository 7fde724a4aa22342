// The front end: command-line numbers, print_conn, unknown names and short command lines, help.
#include <gtest/gtest.h>

#include "cli/numbers.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

TEST(Numbers, LeadingDecimalSaturated) {
  for (const std::string& c : split("208=208; 0xD0=0; abc=0; =0; -1=-1; +5=5;  7=7; 12abc=12; -=0; "
                                    "464=464; 2147483647=2147483647; 99999999999=2147483647; "
                                    "-99999999999=-2147483648")) {  // text=value
    const size_t eq = c.rfind('=');
    EXPECT_EQ(to_int(c.substr(0, eq).c_str()), std::stoll(c.substr(eq + 1))) << '"' << c << '"';
  }
}

TEST(FrontEnd, PrintConnReportsTransport) {
  const std::pair<const char*, const char*> cases[] = {{"1", "error=ok,return=1"},
                                                       {"0", "error=ok,,return=0"},
                                                       {"7", "error=ok,return=1"},
                                                       {"-1", "error=ok,return=1"}};
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
      {{"on_line"}, 2},
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

}  // namespace
}  // namespace demodctl::testing
