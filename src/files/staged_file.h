// A file written under a temporary name beside its final one and renamed into place only once it
// is complete and on the disk, so that the final name never shows a file cut short (a full file
// system, a file-size limit) and several files can be put in place together.
//
// Unlike TempFile it sets no signal guard: it is for threaded programs that take their stop
// signals on a thread of their own, so a staged file is always either committed or removed by
// its owner. A process killed outright leaves `FINAL.staged-*` behind.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

#include "result/result.h"

namespace demodctl {

class StagedFile {
 public:
  explicit StagedFile(std::string final_path, mode_t mode = 0644);
  ~StagedFile();  // removes the temporary file unless committed
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file (exclusively, never through a link), writes the bytes and syncs
  // them to the disk. FaultKind::file ("FINAL: No space left on device") on failure; the
  // temporary file is then gone.
  Result<void> write(const void* data, std::size_t size);
  // Renames the written file over the final path. FaultKind::file on failure (the temporary file
  // is then gone).
  Result<void> commit();

 private:
  Fault fail(int error_number);
  std::string final_path_;
  std::string temp_path_;
  mode_t mode_;
};

// Syncs the directory holding `path`, so that the renames into it survive a power cut.
// FaultKind::file ("DIR: error") on failure.
Result<void> sync_directory_of(const std::string& path);

}  // namespace demodctl
