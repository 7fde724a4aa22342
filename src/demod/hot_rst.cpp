// hot_rst: identity check, then the two-step reset through register 0x2E.
#include "demod/demod_commands.h"
#include "demod/sequence_command.h"

namespace demodctl {
namespace {

// Back to back, nothing read back.
constexpr RegRow kHotReset[] = {
    {0x2E, {0x01}},  // hold the demodulator core in reset
    {0x2E, {0x03}},  // release it: acquisition starts again
};

}  // namespace

int32_t hot_rst(Transport& bus, CommandArgs) { return run_write_sequence(bus, kHotReset); }

}  // namespace demodctl
