/* A fake Linux i2c-dev adapter for benchmarks, preloaded into both programs under test
 * (LD_PRELOAD), so that they open and drive the same node with the same kernel calls:
 *
 *   open("/dev/i2c-99")     -> a descriptor of /dev/null (a character device), remembered
 *   ioctl(fd, I2C_FUNCS)    -> plain I2C transfers and SMBus byte-data reads (i2cdump's)
 *   ioctl(fd, I2C_RDWR)     -> every message done; read messages filled with 0x3F
 *   ioctl(fd, I2C_SMBUS)    -> a byte-data read done, reading 0x3F; anything else refused
 *   ioctl(fd, I2C_SLAVE...) -> done
 *   close(fd)               -> forgotten
 *
 * Every other call goes to the C library unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdarg.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define FAKE_NODE "/dev/i2c-99"
#define FAKE_BYTE 0x3F /* what every register reads: all lock flags of 0x2C set */

static int fake_fd = -1;

static int real_open(const char* path, int flags, mode_t mode) {
  static int (*next)(const char*, int, ...);
  if (!next) *(void**)(&next) = dlsym(RTLD_NEXT, "open"); /* POSIX idiom for a function */
  return next(path, flags, mode);
}

/* The mode argument of open, present only when the flags create a file. */
#define MODE_ARGUMENT(flags, mode)         \
  do {                                     \
    if ((flags) & (O_CREAT | O_TMPFILE)) { \
      va_list ap;                          \
      va_start(ap, flags);                 \
      (mode) = va_arg(ap, mode_t);         \
      va_end(ap);                          \
    }                                      \
  } while (0)

static int fake_open(const char* path, int flags, mode_t mode) {
  if (strcmp(path, FAKE_NODE) == 0) {
    fake_fd = real_open("/dev/null", O_RDWR | (flags & O_CLOEXEC), 0);
    return fake_fd;
  }
  return real_open(path, flags, mode);
}

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_ARGUMENT(flags, mode);
  return fake_open(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  MODE_ARGUMENT(flags, mode);
  return fake_open(path, flags, mode);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (fd >= 0 && fd == fake_fd) {
    if (request == I2C_FUNCS) {
      *(unsigned long*)arg = I2C_FUNC_I2C | I2C_FUNC_SMBUS_READ_BYTE_DATA;
      return 0;
    }
    if (request == I2C_SMBUS) {
      struct i2c_smbus_ioctl_data* smbus = arg;
      if (smbus->read_write != I2C_SMBUS_READ || smbus->size != I2C_SMBUS_BYTE_DATA) {
        errno = EOPNOTSUPP;
        return -1;
      }
      smbus->data->byte = FAKE_BYTE;
      return 0;
    }
    if (request == I2C_RDWR) {
      struct i2c_rdwr_ioctl_data* data = arg;
      for (unsigned i = 0; i < data->nmsgs; ++i) {
        if (data->msgs[i].flags & I2C_M_RD) memset(data->msgs[i].buf, FAKE_BYTE, data->msgs[i].len);
      }
      return (int)data->nmsgs;
    }
    if (request == I2C_SLAVE || request == I2C_SLAVE_FORCE) return 0;
    errno = ENOTTY;
    return -1;
  }
  static int (*next)(int, unsigned long, ...);
  if (!next) *(void**)(&next) = dlsym(RTLD_NEXT, "ioctl");
  return next(fd, request, arg);
}

int close(int fd) {
  static int (*next)(int);
  if (!next) *(void**)(&next) = dlsym(RTLD_NEXT, "close");
  if (fd >= 0 && fd == fake_fd) fake_fd = -1;
  return next(fd);
}
