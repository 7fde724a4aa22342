#include "bus/i2c_device.h"

namespace demodctl {

int32_t TransportMode = 0;
I2cDevice demod_device;
I2cDevice tuner_device;

}  // namespace demodctl
