#include "cli/requests.h"

#include "cli/numbers.h"

namespace demodctl {
namespace {

constexpr int32_t kEightBitMode = 1;  // capture_mode selecting the 8-bit sample format

// Own argument `i`, when it was given.
std::optional<int32_t> own(const Invocation& command, std::size_t i) {
  if (i >= command.args.size()) return std::nullopt;
  return to_int(command.args[i]);
}

}  // namespace

CaptureRequest capture_request(const Invocation& command) {
  const bool eight_bit = own(command, 0) == kEightBitMode;
  return {eight_bit ? SampleFormat::eight_bit : SampleFormat::nine_bit, command.verbose};
}

TuneRequest tune_request(const Invocation& command) {
  const I2cDevice& demod = command.demod_device;
  const int32_t channel = command.via == Via::server ? own(command, 0).value_or(0) : 0;
  return {I2cDevice{demod.host, demod.port, channel, demod.speed, own(command, 1).value_or(0)},
          own(command, 2).value_or(0), own(command, 3).value_or(0), own(command, 4).value_or(0)};
}

}  // namespace demodctl
