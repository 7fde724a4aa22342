#include "bus/connection.h"

#include "bus/calc_api.h"
#include "bus/i2c_device.h"
#include "bus/transport_values.h"
#include "bus/usbio_api.h"
#include "cli/numbers.h"
#include "cli/result_line.h"

namespace demodctl {

int open_connection(char** argv) {
  if (TransportMode != 0) {
    demod_device =
        I2cDevice{argv[1], to_int(argv[2]), to_int(argv[3]), to_int(argv[4]), to_int(argv[5])};
    InitSock(demod_device.host.c_str(), demod_device.port);
    seti2cspeed(demod_device.channel, demod_device.speed);
    return 0;
  }
  demod_device = I2cDevice{"", 0, 0, to_int(argv[1]), to_int(argv[2])};
  if (USBIO_OpenDevice(kBridgeIndex) == -1) {
    print_result(kMsgOpenError, -1);
    return -1;
  }
  USBIO_SetStream(kBridgeIndex, demod_device.speed);
  return 0;
}

void close_connection() {
  if (TransportMode != 0) {
    DeinitSock();
  } else {
    USBIO_CloseDevice(kBridgeIndex);
  }
}

}  // namespace demodctl
