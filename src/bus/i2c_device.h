// Device records, and the command line as the front end parses it once for a run.
#pragma once

#include <cstdint>
#include <string>

#include "output/debug_log.h"
#include "output/numbers.h"

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

// One run's command line, parsed once by the front end and handed to the command.
struct Invocation {
  Via via = Via::bridge;
  I2cDevice demod_device;   // from the transport's positions
  I2cDevice tuner_device;   // tuner_set only: from its first two own arguments
  CommandArgs args;         // the command's own arguments
  bool verbose = false;     // the run's setting: a step that fails says why on standard error
  DebugLog* log = nullptr;  // the run's debug log (the runner's), while the connection is up
};

}  // namespace demodctl
