// Device records and the transport flag shared by every command.
#pragma once

#include <cstdint>
#include <string>

namespace demodctl {

// One I2C device as the tool addresses it. Socket transport: host/port of the
// register server, its channel, the channel's speed value and the device
// address passed on unchanged. USB bridge: host empty, port and channel 0,
// speed is the bridge's stream mode, the low 8 bits of address are the first
// byte of every transaction.
struct I2cDevice {
  std::string host;
  int32_t port = 0;
  int32_t channel = 0;
  int32_t speed = 0;
  int32_t address = 0;
};

// 0 selects the USB bridge transport, any other value the socket transport.
// Set once by the front end before dispatch.
extern int32_t TransportMode;

extern I2cDevice demod_device;
extern I2cDevice tuner_device;

}  // namespace demodctl
