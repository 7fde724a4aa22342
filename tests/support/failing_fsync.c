/* Preloaded (LD_PRELOAD) into a program under test: every fsync and fdatasync fails with EIO, as
 * on a disk that could not keep the data, so that what the program does then can be seen. */
#include <errno.h>

int fsync(int fd) {
  (void)fd;
  errno = EIO;
  return -1;
}

int fdatasync(int fd) {
  (void)fd;
  errno = EIO;
  return -1;
}
