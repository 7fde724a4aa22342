#include "files/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace demodctl {
namespace {

constexpr int kStandardCount = 3;  // input, output, error
constexpr int kOutput = 1;

bool is_closed(int fd) { return ::fcntl(fd, F_GETFD) < 0 && errno == EBADF; }

}  // namespace

StandardDescriptors occupy_standard_descriptors() {
  StandardDescriptors result;
  result.output_closed = is_closed(kOutput);
  for (int fd = 0; fd < kStandardCount; ++fd) {
    if (!is_closed(fd)) continue;
    // The lowest free number is taken: the lower ones are open by now, so this is `fd`.
    const int null = ::open("/dev/null", O_RDWR | O_NOCTTY);
    if (null < 0) return result;
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  result.usable = true;
  return result;
}

}  // namespace demodctl
