// Finds the I2C adapter of the USB-to-I2C bridge in sysfs.
//
// Every adapter appears as <sysfs>/class/i2c-dev/i2c-N, whose `device` link
// points at the adapter's node in the device tree; older layouts only have
// <sysfs>/bus/i2c/devices/i2c-N, itself a link to that node. An adapter counts
// as a USB adapter when its resolved node lies below a USB device, that is
// when, below the sysfs root,
//   - one of its path components is a USB bus (root hub) named `usb<digits>`,
//     as in .../0000:00:14.0/usb1/1-2/1-2:1.0/i2c-7, or
//   - one of its ancestor directories holds an `idVendor` file, which every
//     USB device directory (and no other kind of device) has.
// Links that cannot be resolved, or that lead out of the sysfs tree, are skipped. Among the USB
// adapters the one with the lowest number N (compared as a number, so i2c-9 beats i2c-10) wins.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <vector>

#include "i2cdev/i2c_dev_bus.h"

namespace demodctl {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kAdapterPrefix = "i2c-";
constexpr std::string_view kUsbBusPrefix = "usb";
// Adapter numbers above this are not real; it also keeps the parse from overflowing.
constexpr uint32_t kMaxAdapterNumber = 1'000'000;

bool all_digits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
  });
}

// N of an "i2c-N" entry name; nothing for any other name.
std::optional<uint32_t> adapter_number(std::string_view name) {
  if (!name.starts_with(kAdapterPrefix)) return std::nullopt;
  const std::string_view digits = name.substr(kAdapterPrefix.size());
  if (!all_digits(digits) || digits.size() > 7) return std::nullopt;
  uint32_t number = 0;
  for (const char c : digits) number = number * 10 + static_cast<uint32_t>(c - '0');
  if (number > kMaxAdapterNumber) return std::nullopt;
  return number;
}

bool is_usb_bus_name(std::string_view name) {
  return name.starts_with(kUsbBusPrefix) && all_digits(name.substr(kUsbBusPrefix.size()));
}

// True when `node` lies strictly below `root`.
bool is_below(const fs::path& node, const fs::path& root) {
  const fs::path relative = node.lexically_relative(root);
  return !relative.empty() && relative != "." && *relative.begin() != "..";
}

bool runs_through_usb(const fs::path& node, const fs::path& root) {
  if (!is_below(node, root)) return false;
  for (const fs::path& component : node.lexically_relative(root)) {
    if (is_usb_bus_name(component.native())) return true;
  }
  // Ancestors only down to the sysfs root, never above it.
  std::error_code ec;
  for (fs::path dir = node; dir != root && is_below(dir, root); dir = dir.parent_path()) {
    if (fs::is_regular_file(dir / "idVendor", ec)) return true;
  }
  return false;
}

struct Adapter {
  uint32_t number;
  fs::path node;  // resolved device node
};

// Adapters listed in `dir`; `link` is the entry below each i2c-N entry that
// leads to the device node ("" when the entry itself is the link).
std::vector<Adapter> list_adapters(const fs::path& dir, std::string_view link) {
  std::vector<Adapter> adapters;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const auto number = adapter_number(it->path().filename().native());
    if (!number) continue;
    std::error_code resolve_ec;
    const fs::path target = link.empty() ? it->path() : it->path() / link;
    const fs::path node = fs::canonical(target, resolve_ec);
    if (resolve_ec) continue;  // broken link
    adapters.push_back({*number, node});
  }
  return adapters;
}

}  // namespace

std::optional<std::string> find_usb_i2c_adapter(const std::string& sysfs_root) {
  std::error_code ec;
  const fs::path root = fs::canonical(sysfs_root, ec);
  if (ec) return std::nullopt;
  std::vector<Adapter> adapters = list_adapters(root / "class" / "i2c-dev", "device");
  if (adapters.empty()) adapters = list_adapters(root / "bus" / "i2c" / "devices", "");
  std::sort(adapters.begin(), adapters.end(),
            [](const Adapter& a, const Adapter& b) { return a.number < b.number; });
  for (const Adapter& adapter : adapters) {
    if (runs_through_usb(adapter.node, root)) {
      return "/dev/i2c-" + std::to_string(adapter.number);
    }
  }
  return std::nullopt;
}

}  // namespace demodctl
