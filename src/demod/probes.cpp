// Link status probes: chip identity and the six lock-status flags.
#include <array>

#include "bus/connection.h"
#include "bus/demod_regs.h"
#include "cli/handlers.h"
#include "cli/result_line.h"
#include "demod/lock_status.h"

namespace demodctl {
namespace {

// Reads register 0x2C once and reports one of its bits as 1 or 0.
int32_t probe_bit(char** argv, uint8_t mask) {
  if (open_connection(argv) != 0) return -1;
  uint8_t status = 0;
  if (demod_read_regs(kRegLockStatus, &status, 1) != 0) return -1;
  print_result(kMsgOk, (status & mask) != 0 ? 1 : 0);
  close_connection();
  return 0;
}

}  // namespace

int32_t on_line(int, char** argv) {
  if (open_connection(argv) != 0) return -1;
  std::array<uint8_t, kIdentityLen> identity{};
  const ChipId id = check_chip_id(identity);
  if (id == ChipId::failed) return -1;
  if (id == ChipId::present) {
    print_result(kMsgOk, 1);
  } else {
    print_result(kMsgOkComma, 0);
  }
  close_connection();
  return 0;
}

int32_t agc_ok(int, char** argv) { return probe_bit(argv, kLockAgc); }
int32_t cbs_ok(int, char** argv) { return probe_bit(argv, kLockCbs); }
int32_t tr_ok(int, char** argv) { return probe_bit(argv, kLockTr); }
int32_t sync_ok(int, char** argv) { return probe_bit(argv, kLockSync); }
int32_t cr_ok(int, char** argv) { return probe_bit(argv, kLockCr); }
int32_t fec_ok(int, char** argv) { return probe_bit(argv, kLockFec); }

}  // namespace demodctl
