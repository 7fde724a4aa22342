#include "demod/sequence_command.h"

#include "cli/result_line.h"

namespace demodctl {

int32_t run_write_sequence(Transport& bus, std::span<const RegRow> rows) {
  if (bus.open_connection() != 0) return -1;
  Identity id{};
  const ChipId chip = check_chip_id(bus, id);
  if (chip == ChipId::failed) return -1;
  if (chip == ChipId::absent) {
    print_result(kMsgChipAbsent, 1);
  } else {
    if (write_demod_rows(bus, rows) != 0) return -1;
    print_result(kMsgOk, 1);
  }
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
