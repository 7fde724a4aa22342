// chip_init: identity check, then the fixed start-up sequence.
#include "cli/handlers.h"
#include "demod/sequence_command.h"

namespace demodctl {
namespace {

// Demodulator start-up, eleven one-byte writes with no pause between them.
// Registers written twice are written twice; nothing is merged or skipped.
constexpr RegWrite kChipInit[] = {
    {0x0C, 0x52},                              // clock control
    {0x00, 0x81},                              // reset pulse: bits 7 and 0 set ...
    {0x00, 0x01},                              // ... bit 7 cleared again, bit 0 kept
    {0x05, 0x81},                              // second block: bits 7 and 0 set ...
    {0x05, 0x01},                              // ... bit 7 cleared again, bit 0 kept
    {0x04, 0x04}, {0x09, 0x0E}, {0x0C, 0x42},  // clock control of the first step with bit 4 cleared
    {0x0A, 0x5A},                              // bit 4 set ...
    {0x0A, 0x4A},                              // ... and cleared again
    {0xA8, 0x80},
};

}  // namespace

int32_t chip_init(int, char** argv) { return run_write_sequence(argv, kChipInit); }

}  // namespace demodctl
