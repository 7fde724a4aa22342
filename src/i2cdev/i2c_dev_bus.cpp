// Linux i2c-dev adapter: one I2C_RDWR ioctl per transaction.
#include "i2cdev/i2c_dev_bus.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace demodctl {
namespace {

// Kernel limits of one I2C_RDWR call (drivers/i2c/i2c-dev.c): at most 42
// messages, each at most 8192 bytes.
constexpr uint32_t kMaxMessages = I2C_RDWR_IOCTL_MAX_MSGS;
constexpr size_t kMaxMessageBytes = 8192;
// Highest 7-bit device address; anything above would need I2C_M_TEN.
constexpr uint8_t kMaxAddr7 = 0x7F;
// A signal storm must not keep us in the retry loop for ever.
constexpr int kMaxEintrRetries = 100;

class LibcKernelI2c : public KernelI2c {
 public:
  // O_NONBLOCK: opening a FIFO or a terminal must not wait; i2c-dev itself ignores the flag.
  int open_adapter(const char* path) override {
    return ::open(path, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  }

  bool is_char_device(int fd) override {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode);
  }

  int funcs(int fd, unsigned long* functionality) override {
    return ::ioctl(fd, I2C_FUNCS, functionality);
  }

  int rdwr(int fd, i2c_msg* msgs, uint32_t nmsgs) override {
    i2c_rdwr_ioctl_data data{};
    data.msgs = msgs;
    data.nmsgs = nmsgs;
    int rc = -1;
    for (int attempt = 0; attempt <= kMaxEintrRetries; ++attempt) {
      rc = ::ioctl(fd, I2C_RDWR, &data);
      if (rc >= 0 || errno != EINTR) break;
    }
    return rc;
  }

  void close_adapter(int fd) override { ::close(fd); }
};

// What a failed I2C_RDWR's errno says. Adapter drivers report a byte (the
// address above all) that nobody acknowledged as ENXIO, some as EREMOTEIO
// (Documentation/i2c/fault-codes.rst); everything else (ENODEV once the USB
// adapter is unplugged, EIO, ETIMEDOUT, EAGAIN on a lost arbitration, ...)
// says the transfer could not be made, not that the device is missing.
Fault fault_of_errno(uint8_t addr7, int error) {
  if (error == ENXIO || error == EREMOTEIO) return i2c_nack(addr7);
  return i2c_bus_failure(addr7, std::string("I2C_RDWR: ") + std::strerror(error));
}

i2c_msg make_message(uint8_t addr7, uint16_t flags, uint8_t* buf, size_t len) {
  i2c_msg msg{};
  msg.addr = addr7;
  msg.flags = flags;
  msg.len = static_cast<uint16_t>(len);  // bounded by kMaxMessageBytes
  msg.buf = buf;
  return msg;
}

}  // namespace

KernelI2c& real_kernel_i2c() {
  static LibcKernelI2c kernel;
  return kernel;
}

Result<std::unique_ptr<I2cDevBus>> I2cDevBus::open(const std::string& path, KernelI2c& kernel) {
  errno = 0;
  const int fd = kernel.open_adapter(path.c_str());
  if (fd < 0) {
    return Fault{FaultKind::open_error,
                 "cannot open I2C adapter " + path + ": " + std::strerror(errno)};
  }
  std::string problem;
  unsigned long functionality = 0;
  if (!kernel.is_char_device(fd)) {
    problem = "not a character device";
  } else if (kernel.funcs(fd, &functionality) != 0) {
    problem = "it does not answer I2C_FUNCS";
  } else if ((functionality & I2C_FUNC_I2C) == 0) {
    problem = "it cannot do plain I2C transfers";
  }
  if (!problem.empty()) {
    kernel.close_adapter(fd);
    return Fault{FaultKind::open_error, path + " is not an I2C adapter: " + problem};
  }
  return std::unique_ptr<I2cDevBus>(new I2cDevBus(kernel, fd));
}

I2cDevBus::~I2cDevBus() { kernel_.close_adapter(fd_); }

Result<void> I2cDevBus::transfer(uint8_t addr7, std::span<const uint8_t> tx,
                                 std::span<uint8_t> rx) {
  // A request the kernel would refuse is never sent: the adapter cannot carry it.
  if (addr7 > kMaxAddr7 || tx.size() > kMaxMessageBytes || rx.size() > kMaxMessageBytes) {
    return i2c_bus_failure(addr7, "a request the adapter cannot carry");
  }
  std::array<i2c_msg, 2> msgs{};
  uint32_t count = 0;
  // The write phase is left out only when a read follows it; with both
  // phases empty the single zero-length write is an address probe.
  if (!tx.empty() || rx.empty()) {
    // The kernel only reads a write message's buffer.
    msgs[count++] = make_message(addr7, 0, const_cast<uint8_t*>(tx.data()), tx.size());
  }
  if (!rx.empty()) {
    msgs[count++] = make_message(addr7, I2C_M_RD, rx.data(), rx.size());
  }
  static_assert(msgs.size() <= kMaxMessages);
  errno = 0;
  if (kernel_.rdwr(fd_, msgs.data(), count) >= 0) return {};
  return fault_of_errno(addr7, errno);
}

}  // namespace demodctl
