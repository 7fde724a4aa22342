// hot_rst: identity check, then the two-step reset through register 0x2E.
#include "cli/handlers.h"
#include "demod/sequence_command.h"

namespace demodctl {
namespace {

// Back to back, nothing read back.
constexpr RegWrite kHotReset[] = {
    {0x2E, 0x01},  // hold the demodulator core in reset
    {0x2E, 0x03},  // release it: acquisition starts again
};

}  // namespace

int32_t hot_rst(int, char** argv) { return run_write_sequence(argv, kHotReset); }

}  // namespace demodctl
