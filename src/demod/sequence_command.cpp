#include "demod/sequence_command.h"

#include <array>

#include "bus/connection.h"
#include "bus/demod_regs.h"
#include "cli/result_line.h"

namespace demodctl {

int32_t run_write_sequence(char** argv, std::span<const RegWrite> sequence) {
  if (open_connection(argv) != 0) return -1;
  std::array<uint8_t, kIdentityLen> identity{};
  const ChipId id = check_chip_id(identity);
  if (id == ChipId::failed) return -1;
  if (id == ChipId::absent) {
    print_result(kMsgChipAbsent, 1);
  } else {
    if (apply_writes(sequence) != 0) return -1;
    print_result(kMsgOk, 1);
  }
  close_connection();
  return 0;
}

}  // namespace demodctl
