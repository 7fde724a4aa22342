// Calls of the USB-to-I2C bridge (USB bridge transport), always on device index 0.
//
// They forward to the installed UsbioBackend: by default the bridge layer over
// a Linux i2c-dev adapter or the in-process simulated board (chosen by
// DEMODCTL_I2C_BUS); tests install a recording double.
#pragma once

#include <cstdint>

namespace demodctl {

// Returns -1 when the bridge cannot be opened, anything else on success.
int USBIO_OpenDevice(int index);
// Sets the bridge's I2C stream mode (speed) value.
int USBIO_SetStream(int index, int mode);
// One I2C transaction: write_buf[0] is the 8-bit device address byte, the rest
// is sent after it; then, when read_len is nonzero, read_len bytes are read
// into read_buf with a repeated start. Nonzero on success.
int USBIO_StreamI2C(int index, int write_len, const uint8_t* write_buf, int read_len,
                    uint8_t* read_buf);
int USBIO_CloseDevice(int index);

class UsbioBackend {
 public:
  virtual ~UsbioBackend() = default;
  virtual int open_device(int index) = 0;
  virtual int set_stream(int index, int mode) = 0;
  virtual int stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                         uint8_t* read_buf) = 0;
  virtual int close_device(int index) = 0;
};

// Installs a backend (not owned); nullptr restores the default bridge layer.
void set_usbio_backend(UsbioBackend* backend);

}  // namespace demodctl
