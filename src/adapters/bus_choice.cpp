#include "adapters/bus_choice.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "i2cdev/i2c_dev_bus.h"
#include "sim/sim_board.h"

namespace demodctl {
namespace {

constexpr std::string_view kSimName = "sim";
constexpr std::string_view kSimScenarioPrefix = "sim:";
// i2c-tools name adapter N as "N" or "i2c-N"; more digits than this is no adapter the kernel makes.
constexpr std::string_view kAdapterPrefix = "i2c-";
constexpr std::size_t kMaxNumberDigits = 6;
// What the listing shows where a field has no value.
constexpr std::string_view kNoValue = "-";
constexpr std::string_view kChosenMark = "\t*";

// The simulated board in this process. A dropped connection here is an unplugged bridge: the
// transfer that hits it and every later one fail (a failure, never a NACK: nothing is known
// about the chip any more).
class InProcessBoard : public I2cBus {
 public:
  explicit InProcessBoard(std::unique_ptr<SimBoard> board) : board_(std::move(board)) {}
  Result<void> transfer(uint8_t addr7, std::span<const uint8_t> tx,
                        std::span<uint8_t> rx) override {
    if (gone_) return i2c_bus_failure(addr7, "the simulated board is gone");
    Result<void> result = board_->transfer(addr7, tx, rx);
    gone_ = board_->take_drop_request();
    return gone_ ? i2c_bus_failure(addr7, "the simulated board is gone") : result;
  }

 private:
  std::unique_ptr<SimBoard> board_;
  bool gone_ = false;
};

std::unique_ptr<I2cBus> in_process(std::unique_ptr<SimBoard> board) {
  if (!board) return nullptr;
  return std::make_unique<InProcessBoard>(std::move(board));
}

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// Adapter `digits` (all decimal digits) as the node the kernel gives it; leading zeros are
// allowed, as i2c-tools allow them.
BusChoice numbered_adapter(std::string_view digits, std::string_view text) {
  if (digits.size() > kMaxNumberDigits) return {BusChoice::Kind::kBadNumber, std::string(text)};
  uint32_t number = 0;
  for (const char c : digits) number = number * 10 + static_cast<uint32_t>(c - '0');
  return {BusChoice::Kind::kDeviceNode, i2c_dev_node(number)};
}

// `text` fit for one line: control characters (a tab, a newline) become '?'.
std::string printable(std::string_view text) {
  std::string line(text);
  std::replace_if(
      line.begin(), line.end(),
      [](char c) { return std::iscntrl(static_cast<unsigned char>(c)) != 0; }, '?');
  return line;
}

// `text` in single quotes, fit for one line.
std::string quoted(std::string_view text) {
  std::string line = "'";
  line += printable(text);
  line += '\'';
  return line;
}

// A bus that cannot be had: why, in one line.
Fault cannot_open(std::string why) { return Fault{FaultKind::open_error, std::move(why)}; }

// The node of the one adapter called `name`; the fault when none or several are.
Result<std::optional<std::string>> node_named(const std::string& name,
                                              const std::vector<I2cAdapter>& adapters) {
  std::vector<uint32_t> numbers;
  for (const I2cAdapter& adapter : adapters) {
    if (adapter.name == name) numbers.push_back(adapter.number);
  }
  if (numbers.size() == 1) return std::optional(i2c_dev_node(numbers.front()));
  if (numbers.empty()) return cannot_open(std::string("no I2C adapter named ") + quoted(name));
  std::string list;
  for (const uint32_t number : numbers) {
    if (!list.empty()) list += ", ";
    list += std::string(kAdapterPrefix) + std::to_string(number);
  }
  return cannot_open(std::string("several adapters are named ") + quoted(name) + ": " + list +
                     "; name one by number");
}

// chosen_node over adapters already scanned (they matter only to auto-detection and names).
Result<std::optional<std::string>> node_among(const BusChoice& choice,
                                              const std::vector<I2cAdapter>& adapters,
                                              const std::string& sysfs_root) {
  switch (choice.kind) {
    case BusChoice::Kind::kSimDefault:
    case BusChoice::Kind::kSimScenario:
      return std::optional<std::string>();
    case BusChoice::Kind::kDeviceNode:
      return std::optional(choice.target);
    case BusChoice::Kind::kAdapterName:
      return node_named(choice.target, adapters);
    case BusChoice::Kind::kBadNumber:
      return cannot_open(quoted(choice.target) + " is not an I2C adapter number (at most " +
                         std::to_string(kMaxNumberDigits) + " digits)");
    case BusChoice::Kind::kAutoDetect:
      break;
  }
  auto node = find_usb_i2c_adapter(adapters);
  if (!node) {
    return cannot_open("no USB I2C adapter under " + sysfs_root + "/class/i2c-dev (set " +
                       std::string(kBusEnvVar) + ")");
  }
  return node;
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
  if (text.find('/') != std::string_view::npos) return {Kind::kDeviceNode, std::string(text)};
  if (all_digits(text)) return numbered_adapter(text, text);
  if (text.starts_with(kAdapterPrefix) && all_digits(text.substr(kAdapterPrefix.size()))) {
    return numbered_adapter(text.substr(kAdapterPrefix.size()), text);
  }
  return {Kind::kAdapterName, std::string(text)};
}

Result<std::optional<std::string>> chosen_node(const BusChoice& choice,
                                               const std::string& sysfs_root) {
  const bool looks_up =
      choice.kind == BusChoice::Kind::kAutoDetect || choice.kind == BusChoice::Kind::kAdapterName;
  return node_among(choice, looks_up ? scan_i2c_adapters(sysfs_root) : std::vector<I2cAdapter>{},
                    sysfs_root);
}

Result<std::unique_ptr<I2cBus>> open_chosen_bus(const BusChoice& choice,
                                                const std::string& sysfs_root) {
  switch (choice.kind) {
    case BusChoice::Kind::kSimDefault:
      return in_process(SimBoard::make_default());
    case BusChoice::Kind::kSimScenario: {
      Result<std::unique_ptr<SimBoard>> board = SimBoard::from_file(choice.target);
      if (!board) return cannot_open(board.error().cause);
      return in_process(std::move(*board));
    }
    default:
      break;
  }
  Result<std::optional<std::string>> node = chosen_node(choice, sysfs_root);
  if (!node) return node.error();
  Result<std::unique_ptr<I2cDevBus>> bus = I2cDevBus::open(node->value());
  if (!bus) return bus.error();
  return std::unique_ptr<I2cBus>(std::move(*bus));
}

Result<BusListing> bus_list(const std::string& sysfs_root, const char* bus_value) {
  const std::vector<I2cAdapter> adapters = scan_i2c_adapters(sysfs_root);
  if (adapters.empty()) {
    return cannot_open("no I2C adapters under " + sysfs_root +
                       "/class/i2c-dev (is i2c-dev loaded?)");
  }
  Result<std::optional<std::string>> node =
      node_among(parse_bus_choice(bus_value), adapters, sysfs_root);
  const std::optional<std::string> chosen = node.value_or(std::nullopt);
  std::string text;
  for (const I2cAdapter& adapter : adapters) {
    text += std::string(kAdapterPrefix) + std::to_string(adapter.number) + '\t';
    text += adapter.name.empty() ? std::string(kNoValue) : printable(adapter.name);
    text += '\t';
    text += adapter.usb_id.empty() ? kNoValue : adapter.usb_id;
    if (chosen == i2c_dev_node(adapter.number)) text += kChosenMark;
    text += '\n';
  }
  return BusListing{std::move(text), std::move(node)};
}

}  // namespace demodctl
