// The calls of the USB-to-I2C bridge (USB bridge transport), as the tool uses them, always on
// device index 0:
//
//   USBIO_OpenDevice(0)                     -1 when the bridge cannot be opened
//   USBIO_SetStream(0, speed)               the bridge's I2C stream mode; result ignored
//   USBIO_StreamI2C(0, wlen, wbuf, rlen, rbuf)
//                                           one I2C transaction: wbuf[0] is the 8-bit device
//                                           address byte, the rest is sent after it; then, when
//                                           rlen is nonzero, rlen bytes are read into rbuf with a
//                                           repeated start. Nonzero when the transfer was done.
//   USBIO_CloseDevice(0)
//
// Beside them, like a library's "last error" call, what became of the last StreamI2C: done, not
// acknowledged by the device, or failed by the bridge (unplugged, bus error). A zero from
// StreamI2C is either of the last two; only the identity read needs to know which.
//
// UsbBridge (bus/usb_bridge.h) implements them on an I2C bus; tests give a recording double.
#pragma once

#include <cstdint>

#include "i2c/i2c_bus.h"

namespace demodctl {

class UsbioBackend {
 public:
  virtual ~UsbioBackend() = default;
  virtual int open_device(int index) = 0;
  virtual int set_stream(int index, int mode) = 0;
  virtual int stream_i2c(int index, int write_len, const uint8_t* write_buf, int read_len,
                         uint8_t* read_buf) = 0;
  virtual int close_device(int index) = 0;
  // The outcome of the last stream_i2c call (a bus failure before any): nothing when it was
  // done, else its fault (the device's NACK or the bus's failure, with the cause).
  virtual Result<void> last_result() const = 0;
};

}  // namespace demodctl
