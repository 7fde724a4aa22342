#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cli/dispatch.h"
#include "cli/numbers.h"
#include "support/recording_backends.h"

namespace demodctl::testing {
namespace {

struct NumberCase {
  const char* text;
  int32_t value;
};
constexpr NumberCase kNumbers[] = {
    {"208", 208},
    {"0xD0", 0},
    {"abc", 0},
    {"", 0},
    {"-1", -1},
    {"+5", 5},
    {" 7", 7},
    {"12abc", 12},
    {"2147483647", INT_MAX},
    {"99999999999", INT_MAX},
    {"-99999999999", INT_MIN},
    {"-", 0},
    {"464", 464},
};

TEST(Numbers, LeadingDecimalSaturated) {
  for (const auto& c : kNumbers) EXPECT_EQ(to_int(c.text), c.value) << '"' << c.text << '"';
}

TEST(FrontEnd, PrintConnReportsTransport) {
  struct Case {
    const char* flag;
    const char* out;
  } cases[] = {{"1", "error=ok,return=1"},
               {"0", "error=ok,,return=0"},
               {"abc", "error=ok,,return=0"},
               {"7", "error=ok,return=1"},
               {"-1", "error=ok,return=1"}};
  for (const auto& c : cases) {
    TestPlatform p;
    const RunResult r = run_cli(p, {"print_conn", c.flag});
    EXPECT_EQ(r.out, c.out) << c.flag;
    EXPECT_EQ(r.status, 0);
  }
}

TEST(FrontEnd, UnknownNamesPrintNothing) {
  TestPlatform p;
  struct Case {
    std::vector<std::string> args;
    int32_t status;
  } cases[] = {
      {{"h", "1", "0", "100", "208", "On_line", "1"}, 't' - 'O'},
      {{"h", "1", "0", "100", "208", "on_line ", "1"}, 't' - 'o'},
      {{"h", "1", "0", "100", "208", "zzz", "1"}, 't' - 'z'},
      {{"abc", "0"}, 't' - 'a'},
      {{"tuner_set" + std::string(256, 'x'), "1"}, -'x'},  // never 0 modulo 256
      {{"tuner_se", "1"}, 't'},
      {{"\xff", "1"}, 't' - 0xFF},  // bytes compare unsigned
  };
  for (const auto& c : cases) {
    const RunResult r = run_cli(p, c.args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, c.status) << c.args[c.args.size() - 2];
    EXPECT_NE(r.status & 0xFF, 0);
  }
  EXPECT_TRUE(p.calls.empty());
}

TEST(FrontEnd, ShortCommandLinesNeverReachTheBus) {
  TestPlatform p;
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"on_line"},
      {"on_line", "1"},
      {"h", "p", "on_line", "1"},
  };
  for (const auto& args : lines) {
    const RunResult r = run_cli(p, args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_EQ(r.out, "");
  }
  EXPECT_TRUE(p.calls.empty());
}

TEST(FrontEnd, PositionHoldingTheNameIsReadAsWritten) {
  TestPlatform p;
  // USB: speed = "on_line" -> 0, address = "0" -> 0.
  const RunResult r = run_cli(p, {"on_line", "0", "on_line", "0"});
  EXPECT_EQ(r.out, "error=ok,,return=0");
  EXPECT_EQ(p.calls.at(1), "SetStream(0,0)");
  EXPECT_EQ(p.calls.at(2), "StreamI2C(0,[00 6C],4)");
}

TEST(FrontEnd, HelpAndVersionGoToStdout) {
  for (const char* flag : {"--help", "--version"}) {
    TestPlatform p;
    const RunResult r = run_cli(p, {flag});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("demodctl"), std::string::npos);
  }
}

}  // namespace
}  // namespace demodctl::testing
