#include "bus/bridge_bus_choice.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "bus/i2c_dev_bus.h"
#include "sim/sim_board.h"

namespace demodctl {
namespace {

constexpr std::string_view kSimName = "sim";
constexpr std::string_view kSimScenarioPrefix = "sim:";

std::unique_ptr<I2cBus> open_device_node(const std::string& path, std::string* error) {
  errno = 0;
  auto bus = I2cDevBus::open(path);
  if (!bus) *error = "cannot open I2C adapter " + path + ": " + std::strerror(errno);
  return bus;
}

}  // namespace

BusChoice parse_bus_choice(const char* value) {
  using Kind = BusChoice::Kind;
  if (value == nullptr || *value == '\0') return {Kind::kAutoDetect, {}};
  const std::string_view text(value);
  if (text == kSimName) return {Kind::kSimDefault, {}};
  if (text.starts_with(kSimScenarioPrefix)) {
    return {Kind::kSimScenario, std::string(text.substr(kSimScenarioPrefix.size()))};
  }
  return {Kind::kDeviceNode, std::string(text)};
}

std::unique_ptr<I2cBus> open_chosen_bus(const BusChoice& choice, const std::string& sysfs_root,
                                        std::string* error) {
  switch (choice.kind) {
    case BusChoice::Kind::kSimDefault:
      return SimBoard::make_default();
    case BusChoice::Kind::kSimScenario: {
      std::string sim_error;
      auto board = SimBoard::from_file(choice.path, &sim_error);
      if (!board) *error = sim_error.empty() ? "cannot load scenario " + choice.path : sim_error;
      return board;
    }
    case BusChoice::Kind::kDeviceNode:
      return open_device_node(choice.path, error);
    case BusChoice::Kind::kAutoDetect:
      break;
  }
  const auto node = find_usb_i2c_adapter(sysfs_root);
  if (!node) {
    *error = "no USB I2C adapter under " + sysfs_root + "/class/i2c-dev (set " +
             std::string(kBusEnvVar) + ")";
    return nullptr;
  }
  return open_device_node(*node, error);
}

}  // namespace demodctl
