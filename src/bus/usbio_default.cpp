// Placeholder until the i2c-dev bridge layer lands: the bridge never opens.
#include "bus/default_backends.h"

namespace demodctl {
namespace {
class NoBridge : public UsbioBackend {
 public:
  int open_device(int) override { return -1; }
  int set_stream(int, int) override { return 0; }
  int stream_i2c(int, int, const uint8_t*, int, uint8_t*) override { return 0; }
  int close_device(int) override { return 0; }
};
}  // namespace

UsbioBackend& default_usbio_backend() {
  static NoBridge backend;
  return backend;
}

}  // namespace demodctl
