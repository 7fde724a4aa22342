// Link status probes: chip identity and the six lock-status flags.
#include "demod/demod_commands.h"
#include "demod/field_access.h"
#include "outcome/result_line.h"

namespace demodctl {
namespace {

// Reads the lock status once and reports one stage's flag as 1 or 0. No identity check: with no
// chip the bridge refuses the read and the command fails.
Outcome probe_bit(BoardBus& bus, const Field& flag) {
  const Result<uint8_t> value = read_field(bus, flag);
  if (!value) return value.error();
  return Reply{kMsgOk, int32_t{*value}};
}

}  // namespace

// The identity check found the chip (an absent chip has the reply of the command's row).
Outcome on_line(BoardBus&) { return Reply{kMsgOk, 1}; }

Outcome agc_ok(BoardBus& bus) { return probe_bit(bus, reg::lock_agc); }
Outcome cbs_ok(BoardBus& bus) { return probe_bit(bus, reg::lock_cbs); }
Outcome tr_ok(BoardBus& bus) { return probe_bit(bus, reg::lock_tr); }
Outcome sync_ok(BoardBus& bus) { return probe_bit(bus, reg::lock_sync); }
Outcome cr_ok(BoardBus& bus) { return probe_bit(bus, reg::lock_cr); }
Outcome fec_ok(BoardBus& bus) { return probe_bit(bus, reg::lock_fec); }

}  // namespace demodctl
