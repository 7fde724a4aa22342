// fft_print: the capture in the 9-bit format, no identity check; the sample file is completed
// first, then the pairs are printed as the value of the result line.
#include "capture/capture.h"
#include "capture/capture_commands.h"
#include "capture/sample_file.h"
#include "cli/result_line.h"

namespace demodctl {

int32_t fft_print(Transport& bus, CommandArgs) {
  if (bus.open_connection() != 0) return -1;
  if (run_capture(bus, SampleFormat::nine_bit) != 0) return -1;
  CaptureBuffer capture{};
  if (fetch_capture(bus, capture) != 0) return -1;
  const SamplePairs pairs = decode_capture(capture, SampleFormat::nine_bit);
  SampleFile file;
  if (!file.create() || !file.write(pairs) || !file.commit()) return report_file_failure();
  print_result_pairs(kMsgOk, pairs);
  bus.close_connection();
  return 0;
}

}  // namespace demodctl
