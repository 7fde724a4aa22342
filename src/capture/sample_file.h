// The sample file `qv_ad_smp` in the working directory: the header "Column:2", then one line
// "%d,%d" per sample pair, 2049 lines in all.
//
// It is written under a temporary name in the same directory (files/temp_file.h) and renamed over
// `qv_ad_smp` only when complete, every write and the sync checked: an earlier capture is
// never lost to a run that fails, and no temporary file is left behind, also when a signal ends
// the run. With the run's verbose setting the first failure names its cause on standard error
// ("demodctl: sample file qv_ad_smp: File too large").
#pragma once

#include <span>
#include <string>

#include "capture/samples.h"
#include "files/temp_file.h"

namespace demodctl {

inline constexpr const char* kSampleFileName = "qv_ad_smp";

class SampleFile {
 public:
  // `verbose`: a failure says why on standard error (the run's setting).
  explicit SampleFile(bool verbose) : verbose_(verbose) {}
  SampleFile(const SampleFile&) = delete;
  SampleFile& operator=(const SampleFile&) = delete;

  // Creates the temporary file and starts the text with the header. False when it cannot be
  // created.
  bool create();
  // One line per pair, added to the text.
  bool write(std::span<const SamplePair> pairs);
  // Writes the text, syncs it to the disk and renames the file over the sample file. False on
  // any error (nothing replaced).
  bool commit();

 private:
  // Marks the file failed and, the first time, says why (errno of the call that failed); false.
  bool fail();
  // Writes the whole text to the temporary file.
  bool put_text();
  bool verbose_ = false;
  TempFile temp_{kSampleFileName};  // removed unless committed
  std::string text_;                // the whole file, written by commit()
  bool failed_ = false;
};

}  // namespace demodctl
