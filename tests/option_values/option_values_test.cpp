// Option values at the ends of their ranges (regserver's --port, --max-clients, --idle-timeout),
// and a parser's message of several lines made one.
#include "option_values/option_values.h"

#include <gtest/gtest.h>

namespace demodctl {
namespace {

TEST(OptionValues, EachParserTakesItsMinAndMaxNotPast) {
  const struct {
    bool decimal;  // decimal_number, else whole_number
    const char* text;
    double min, max;
    bool taken;
  } cases[] = {
      {false, "0", 0, 65535, true},          {false, "65535", 0, 65535, true},
      {false, "65536", 0, 65535, false},     {false, "0", 1, 1024, false},
      {false, "1024", 1, 1024, true},        {false, "1025", 1, 1024, false},
      {true, "0.0009", 0.001, 86400, false}, {true, "0.001", 0.001, 86400, true},
      {true, "86400", 0.001, 86400, true},   {true, "86400.001", 0.001, 86400, false},
  };
  for (const auto& k : cases) {
    const bool taken =
        k.decimal ? decimal_number(k.text, k.min, k.max).has_value()
                  : whole_number(k.text, static_cast<uint64_t>(k.min), static_cast<uint64_t>(k.max))
                        .has_value();
    EXPECT_EQ(taken, k.taken) << k.text << " in " << k.min << ".." << k.max;
  }
  EXPECT_EQ(one_line("--port: bad\nvalue\n\n"), "--port: bad value");
}

}  // namespace
}  // namespace demodctl
