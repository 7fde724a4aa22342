// chip_init: identity check, then the fixed start-up sequence.
#include "bus/reg_rows.h"
#include "demod/demod_commands.h"
#include "demod/register_map.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

// Demodulator start-up, eleven one-byte writes with no pause between them. Registers written
// twice are written twice; nothing is merged or skipped. The reset pulse and the last step are
// named in the register map (the simulated chip acts on them); the other registers are written
// only here, so their rows keep their numbers.
constexpr RegRow kChipInit[] = {
    {0x0C, {0x52}},                 // clock control
    {reg::chip_reset.reg, {0x81}},  // reset pulse: bits 7 and 0 set ...
    {reg::chip_reset.reg, {0x01}},  // ... bit 7 cleared again, bit 0 kept
    {0x05, {0x81}},                 // second block: bits 7 and 0 set ...
    {0x05, {0x01}},                 // ... bit 7 cleared again, bit 0 kept
    {0x04, {0x04}},                 // start-up setting: bit 2
    {0x09, {0x0E}},                 // start-up setting: bits 3..1
    {0x0C, {0x42}},                 // clock control of the first row with bit 4 cleared
    {0x0A, {0x5A}},                 // bit 4 set ...
    {0x0A, {0x4A}},                 // ... and cleared again
    {reg::init_done.reg, {0x80}},   // start-up done: acquisition begins
};

}  // namespace

Outcome chip_init(BoardBus& bus) {
  if (auto done = write_demod_rows(bus, kChipInit); !done) return done.error();
  return Reply{kMsgOk, 1};
}

}  // namespace demodctl
