// Linux i2c-dev adapter (/dev/i2c-N) as an I2cBus: each transaction is one
// I2C_RDWR ioctl with a write message and, when a read follows, a read message
// (repeated start). The kernel calls go through KernelI2c so tests can fake them.
#pragma once

#include <linux/i2c.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "i2c/i2c_bus.h"

namespace demodctl {

// The few kernel calls the adapter makes (open, fstat, ioctl(I2C_FUNCS), ioctl(I2C_RDWR), close).
class KernelI2c {
 public:
  virtual ~KernelI2c() = default;
  virtual int open_adapter(const char* path) = 0;               // fd, or -1 with errno
  virtual bool is_char_device(int fd) = 0;                      // fstat: S_ISCHR
  virtual int funcs(int fd, unsigned long* functionality) = 0;  // ioctl(fd, I2C_FUNCS)
  virtual int rdwr(int fd, i2c_msg* msgs, uint32_t nmsgs) = 0;  // ioctl(I2C_RDWR), -1 with errno
  virtual void close_adapter(int fd) = 0;
};
// The real calls through libc (so a preloaded shim sees them).
KernelI2c& real_kernel_i2c();

class I2cDevBus : public I2cBus {
 public:
  // FaultKind::open_error with why (one line) when the node cannot be opened or is not an I2C
  // adapter: it must be a character device that answers I2C_FUNCS with plain I2C transfers.
  // Opening never blocks, whatever the path names (a FIFO, a directory, a terminal).
  static Result<std::unique_ptr<I2cDevBus>> open(const std::string& path,
                                                 KernelI2c& kernel = real_kernel_i2c());
  ~I2cDevBus() override;
  // A NACK when the kernel says ENXIO or EREMOTEIO, a failure for any other error.
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override;

 private:
  I2cDevBus(KernelI2c& kernel, int fd) : kernel_(kernel), fd_(fd) {}
  KernelI2c& kernel_;
  int fd_;
};

// One I2C adapter as sysfs shows it.
struct I2cAdapter {
  uint32_t number = 0;  // N of i2c-N
  std::string name;     // as `i2cdetect -l` shows it, without the newline; "" when unreadable
  std::string usb_id;   // "vvvv:pppp" of the USB device it hangs off; "" when none
  bool on_usb = false;  // its device path runs through a USB device

  bool operator==(const I2cAdapter&) const = default;
};

// Every I2C adapter under <sysfs_root>/class/i2c-dev (or, on kernels without that class,
// <sysfs_root>/bus/i2c/devices), sorted by number. sysfs_root is "/sys" except in tests.
std::vector<I2cAdapter> scan_i2c_adapters(const std::string& sysfs_root = "/sys");

// The lowest-numbered I2C adapter whose sysfs device path runs through a USB
// device, as "/dev/i2c-N"; nothing when there is none.
std::optional<std::string> find_usb_i2c_adapter(const std::vector<I2cAdapter>& adapters);
std::optional<std::string> find_usb_i2c_adapter(const std::string& sysfs_root = "/sys");

// "/dev/i2c-N", the i2c-dev node of adapter N.
std::string i2c_dev_node(uint32_t number);

}  // namespace demodctl
