// Which I2C bus the USB bridge runs on, chosen by DEMODCTL_I2C_BUS where the program is put
// together (the bus layer knows neither the simulator nor a particular adapter):
//   unset or empty  the first USB I2C adapter found in sysfs
//   "sim"           the in-process simulated board with its default scenario
//   "sim:FILE"      the simulated board built from scenario FILE
//   anything else   that i2c-dev node, e.g. "/dev/i2c-7"
#pragma once

#include <memory>
#include <string>

#include "i2c/i2c_bus.h"

namespace demodctl {

inline constexpr const char* kBusEnvVar = "DEMODCTL_I2C_BUS";

struct BusChoice {
  enum class Kind { kAutoDetect, kSimDefault, kSimScenario, kDeviceNode };
  Kind kind = Kind::kAutoDetect;
  std::string path;  // scenario file or device node; empty otherwise

  bool operator==(const BusChoice&) const = default;
};

// `value` is the variable's text, nullptr when it is not set.
BusChoice parse_bus_choice(const char* value);

// Opens the chosen bus; nullptr and *error set (one line) when it cannot be had.
// sysfs_root is where auto-detection looks for adapters ("/sys" except in tests).
std::unique_ptr<I2cBus> open_chosen_bus(const BusChoice& choice, const std::string& sysfs_root,
                                        std::string* error);

}  // namespace demodctl
