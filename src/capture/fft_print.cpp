// fft_print: the capture in the 9-bit format, no identity check; the sample file is completed
// first, then the pairs are the value of the reply.
#include "capture/capture.h"
#include "capture/capture_commands.h"
#include "capture/sample_file.h"
#include "outcome/result_line.h"

namespace demodctl {

Outcome fft_print(BoardBus& bus, bool verbose) {
  if (auto done = run_capture(bus, SampleFormat::nine_bit); !done) return done.error();
  CaptureBuffer capture{};
  if (auto done = fetch_capture(bus, capture); !done) return done.error();
  const SamplePairs pairs = decode_capture(capture, SampleFormat::nine_bit);
  SampleFile file(verbose);
  if (!file.create()) return sample_file_fault("create");
  if (!file.write(pairs) || !file.commit()) return sample_file_fault("write");
  return Reply{kMsgOk, SamplePairList(pairs.begin(), pairs.end())};
}

}  // namespace demodctl
