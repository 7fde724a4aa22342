// ad_smp: identity check, the capture, the sample file.
#include "capture/capture.h"
#include "capture/capture_commands.h"
#include "capture/sample_file.h"
#include "cli/result_line.h"

namespace demodctl {

int32_t ad_smp(Transport& bus, CommandArgs args) {
  if (bus.open_connection() != 0) return -1;
  const SampleFormat format =
      to_int(args[0]) == 1 ? SampleFormat::eight_bit : SampleFormat::nine_bit;
  Identity id{};
  const ChipId chip = check_chip_id(bus, id);
  if (chip == ChipId::failed) return -1;
  if (chip == ChipId::absent) {  // nothing captured, an earlier sample file untouched
    print_result(kMsgChipAbsent, 1);
    bus.close_connection();
    return 0;
  }
  if (run_capture(bus, format) != 0) return -1;
  SampleFile file;
  if (!file.create()) return report_file_failure();
  CaptureBuffer capture{};
  if (fetch_capture(bus, capture) != 0) return -1;
  if (!file.write(decode_capture(capture, format)) || !file.commit()) {
    return report_file_failure();
  }
  print_result(kMsgOk, 0);
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
