// hot_rst: identity check, then the two-step reset through register 0x2E.
#include "bus/reg_rows.h"
#include "demod/demod_commands.h"
#include "output/result_line.h"

namespace demodctl {
namespace {

// Back to back, nothing read back.
constexpr RegRow kHotReset[] = {
    {0x2E, {0x01}},  // hold the demodulator core in reset
    {0x2E, {0x03}},  // release it: acquisition starts again
};

}  // namespace

Outcome hot_rst(Transport& bus, const Invocation&) {
  if (const Fault fault = write_demod_rows(bus, kHotReset)) return *fault;
  return Reply{kMsgOk, 1};
}

}  // namespace demodctl
