#include "capture/sample_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace demodctl {

SampleFile::~SampleFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SampleFile::create() {
  if (!temp_.create()) return false;
  // The stream gets a descriptor of its own: the temporary file's stays open, and its lock held,
  // until the rename.
  const int fd = ::fcntl(temp_.fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
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
  return temp_.commit();
}

}  // namespace demodctl
