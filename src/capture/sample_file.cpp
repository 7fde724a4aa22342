#include "capture/sample_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/result_line.h"

namespace demodctl {

int report_file_failure() {
  print_result(kMsgFileError, -1);
  return -1;
}

SampleFile::~SampleFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool SampleFile::create() {
  std::string name = std::string(kSampleFileName) + ".XXXXXX";
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return false;
  temp_ = name;
  // mkstemp makes the file private; give it the permissions a plain new file would get.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(fd, static_cast<mode_t>(0666 & ~mask));
  file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) {
    ::close(fd);
    return false;
  }
  failed_ = std::fputs("Column:2\n", file_) < 0;
  return !failed_;
}

bool SampleFile::write(std::span<const SamplePair> pairs) {
  for (const auto& [first, second] : pairs) {
    if (failed_) break;
    failed_ = std::fprintf(file_, "%d,%d\n", first, second) < 0;
  }
  return !failed_;
}

bool SampleFile::commit() {
  if (file_ == nullptr) return false;
  // On disk before the rename, so that even a power cut leaves the old file or the new one.
  const bool flushed =
      std::fflush(file_) == 0 && std::ferror(file_) == 0 && ::fsync(::fileno(file_)) == 0;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (failed_ || !flushed || !closed) return false;
  if (std::rename(temp_.c_str(), kSampleFileName) != 0) return false;
  temp_.clear();
  return true;
}

}  // namespace demodctl
