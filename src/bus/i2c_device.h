// Device records and the transport a run goes through.
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

// The transport a run goes through, chosen by the last argument of its command line: 0 selects
// the USB bridge, any other value the register server.
enum class Via : uint8_t { bridge, server };
constexpr Via via_of(int32_t flag) { return flag != 0 ? Via::server : Via::bridge; }

}  // namespace demodctl
