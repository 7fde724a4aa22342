// ad_smp: after the identity check (an absent chip: nothing captured, an earlier sample file
// untouched), the capture and the sample file.
#include "capture/capture.h"
#include "capture/capture_commands.h"
#include "capture/sample_file.h"
#include "output/result_line.h"

namespace demodctl {

Outcome ad_smp(Transport& bus, const Invocation& command) {
  const SampleFormat format =
      to_int(command.args[0]) == 1 ? SampleFormat::eight_bit : SampleFormat::nine_bit;
  if (const Fault fault = run_capture(bus, format)) return *fault;
  SampleFile file;
  if (!file.create()) return Failure::file;
  CaptureBuffer capture{};
  if (const Fault fault = fetch_capture(bus, capture)) return *fault;
  if (!file.write(decode_capture(capture, format)) || !file.commit()) return Failure::file;
  return Reply{kMsgOk, 0};
}

}  // namespace demodctl
