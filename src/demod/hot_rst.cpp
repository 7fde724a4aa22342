// hot_rst: identity check, then the two-step reset of the demodulator core.
#include "bus/reg_rows.h"
#include "demod/demod_commands.h"
#include "demod/register_map.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

// Back to back, nothing read back.
constexpr RegRow kHotReset[] = {
    {reg::core_reset.reg,
     {reg::core_reset.put(0, kCoreHold)}},  // hold the demodulator core in reset
    {reg::core_reset.reg,
     {reg::core_reset.put(0, kCoreRelease)}},  // release it: acquisition starts again
};

}  // namespace

Outcome hot_rst(BoardBus& bus) {
  if (auto done = write_demod_rows(bus, kHotReset); !done) return done.error();
  return Reply{kMsgOk, 1};
}

}  // namespace demodctl
