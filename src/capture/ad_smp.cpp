// ad_smp: after the identity check (an absent chip: nothing captured, an earlier sample file
// untouched), the capture and the sample file.
#include "capture/capture.h"
#include "capture/capture_commands.h"
#include "capture/sample_file.h"
#include "outcome/result_line.h"

namespace demodctl {

Outcome ad_smp(BoardBus& bus, const CaptureRequest& request) {
  const SampleFormat format = request.format;
  if (auto done = run_capture(bus, format); !done) return done.error();
  SampleFile file(request.verbose);
  if (!file.create()) return sample_file_fault("create");
  CaptureBuffer capture{};
  if (auto done = fetch_capture(bus, capture); !done) return done.error();
  if (!file.write(decode_capture(capture, format)) || !file.commit()) {
    return sample_file_fault("write");
  }
  return Reply{kMsgOk, 0};
}

}  // namespace demodctl
