#include "bus/usbio_api.h"

#include "bus/default_backends.h"

namespace demodctl {
namespace {
UsbioBackend* g_usbio = nullptr;
UsbioBackend& usbio() { return g_usbio != nullptr ? *g_usbio : default_usbio_backend(); }
}  // namespace

void set_usbio_backend(UsbioBackend* backend) { g_usbio = backend; }

int USBIO_OpenDevice(int index) { return usbio().open_device(index); }
int USBIO_SetStream(int index, int mode) { return usbio().set_stream(index, mode); }
int USBIO_StreamI2C(int index, int write_len, const uint8_t* write_buf, int read_len,
                    uint8_t* read_buf) {
  return usbio().stream_i2c(index, write_len, write_buf, read_len, read_buf);
}
int USBIO_CloseDevice(int index) { return usbio().close_device(index); }

}  // namespace demodctl
