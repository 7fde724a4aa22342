// Stand-in i2c-dev adapter (to be replaced): no adapter ever opens.
#include "bus/i2c_dev_bus.h"

namespace demodctl {

namespace {
class NoKernel : public KernelI2c {
 public:
  int open_adapter(const char*) override { return -1; }
  int rdwr(int, i2c_msg*, uint32_t) override { return -1; }
  void close_adapter(int) override {}
};
}  // namespace

KernelI2c& real_kernel_i2c() {
  static NoKernel kernel;
  return kernel;
}

std::unique_ptr<I2cDevBus> I2cDevBus::open(const std::string& path, KernelI2c& kernel) {
  const int fd = kernel.open_adapter(path.c_str());
  if (fd < 0) return nullptr;
  return std::unique_ptr<I2cDevBus>(new I2cDevBus(kernel, fd));
}

I2cDevBus::~I2cDevBus() { kernel_.close_adapter(fd_); }

bool I2cDevBus::transfer(uint8_t, std::span<const uint8_t>, std::span<uint8_t>) { return false; }

std::optional<std::string> find_usb_i2c_adapter(const std::string&) { return std::nullopt; }

}  // namespace demodctl
