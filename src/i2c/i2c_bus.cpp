#include "i2c/i2c_bus.h"

#include <array>
#include <cstdio>

namespace demodctl {
namespace {

std::string device_name(uint8_t addr7) {
  std::array<char, 16> text{};
  std::snprintf(text.data(), text.size(), "device 0x%02X", static_cast<unsigned>(addr7 << 1U));
  return text.data();
}

}  // namespace

Fault i2c_nack(uint8_t addr7) {
  return Fault{FaultKind::nack, device_name(addr7) + " did not acknowledge"};
}

Fault i2c_bus_failure(uint8_t addr7, const std::string& why) {
  return Fault{FaultKind::bus_failure, device_name(addr7) + ": " + why};
}

}  // namespace demodctl
