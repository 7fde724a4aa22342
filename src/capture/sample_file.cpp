#include "capture/sample_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "bus/verbose.h"

namespace demodctl {

SampleFile::~SampleFile() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SampleFile::fail() {
  const int err = errno;  // of the call that just failed, before anything else can change it
  if (!failed_) {
    failed_ = true;
    say_why(verbose_, std::string("sample file ") + kSampleFileName + ": " +
                          (err != 0 ? std::strerror(err) : "write failed"));
  }
  return false;
}

bool SampleFile::create() {
  errno = 0;
  if (!temp_.create()) return fail();
  // The stream gets a descriptor of its own: the temporary file's stays open, and its lock held,
  // until the rename.
  const int fd = ::fcntl(temp_.fd(), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return fail();
  file_ = ::fdopen(fd, "w");
  if (file_ == nullptr) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return fail();
  }
  return std::fputs("Column:2\n", file_) >= 0 || fail();
}

bool SampleFile::write(std::span<const SamplePair> pairs) {
  for (const auto& [first, second] : pairs) {
    if (failed_) return false;
    errno = 0;
    if (std::fprintf(file_, "%d,%d\n", first, second) < 0) return fail();
  }
  return !failed_;
}

bool SampleFile::commit() {
  if (file_ == nullptr || failed_) return false;
  // On disk before the rename, so that even a power cut leaves the old file or the new one.
  errno = 0;
  const bool flushed =
      std::fflush(file_) == 0 && std::ferror(file_) == 0 && ::fsync(::fileno(file_)) == 0;
  if (!flushed) fail();
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0) fail();
  if (failed_) return false;
  errno = 0;
  return temp_.commit() || fail();
}

}  // namespace demodctl
