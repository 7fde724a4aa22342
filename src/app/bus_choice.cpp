#include "app/bus_choice.h"

#include <string_view>

#include "i2cdev/i2c_dev_bus.h"
#include "sim/sim_board.h"

namespace demodctl {
namespace {

constexpr std::string_view kSimName = "sim";
constexpr std::string_view kSimScenarioPrefix = "sim:";

// The simulated board in this process. A dropped connection here is an unplugged bridge: the
// transfer that hits it and every later one fail (a failure, never a NACK: nothing is known
// about the chip any more).
class InProcessBoard : public I2cBus {
 public:
  explicit InProcessBoard(std::unique_ptr<SimBoard> board) : board_(std::move(board)) {}
  I2cResult transfer(uint8_t addr7, std::span<const uint8_t> tx, std::span<uint8_t> rx) override {
    if (gone_) return I2cResult::failed;
    const I2cResult result = board_->transfer(addr7, tx, rx);
    gone_ = board_->take_drop_request();
    return gone_ ? I2cResult::failed : result;
  }

 private:
  std::unique_ptr<SimBoard> board_;
  bool gone_ = false;
};

std::unique_ptr<I2cBus> in_process(std::unique_ptr<SimBoard> board) {
  if (!board) return nullptr;
  return std::make_unique<InProcessBoard>(std::move(board));
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
      return in_process(SimBoard::make_default());
    case BusChoice::Kind::kSimScenario:
      return in_process(SimBoard::from_file(choice.path, error));
    case BusChoice::Kind::kDeviceNode:
      return I2cDevBus::open(choice.path, error);
    case BusChoice::Kind::kAutoDetect:
      break;
  }
  const auto node = find_usb_i2c_adapter(sysfs_root);
  if (!node) {
    *error = "no USB I2C adapter under " + sysfs_root + "/class/i2c-dev (set " +
             std::string(kBusEnvVar) + ")";
    return nullptr;
  }
  return I2cDevBus::open(*node, error);
}

}  // namespace demodctl
